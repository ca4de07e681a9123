// Source code cut along the declarations of its language: a RecursiveChunker whose separator list
// the language chooses, with every chunk labelled by the language's name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "chunker/labelled.hpp"

namespace slivr {

enum class CodeLanguage : std::uint8_t {
    Rust,
    Python,
    JavaScript,
    TypeScript,
    Go,
    Cpp,
    Java,
    Html,
    Sql,
    Markdown,
    Generic,
};

// The language's separators, strongest first, ending with paragraph break, line feed, blank and
// the empty text (cut by characters).
std::vector<std::string> get_separators(CodeLanguage language);

// The canonical name, also written into metadata: "rust", "python", ..., "generic".
std::string_view language_name(CodeLanguage language);

// The language a user's name selects, after full lower-casing ("PY" is python, "c" is cpp).
// Names not in the table select generic: an unknown language is never an error.
CodeLanguage code_language_from_name(std::string_view name);

class CodeChunker final : public LabelledRecursiveChunker {
public:
    explicit CodeChunker(CodeLanguage language, std::uint64_t chunk_size = 1500, std::uint64_t overlap = 200);

    const CodeLanguage language;
};

}  // namespace slivr
