#include "chunker/code.hpp"

#include <array>
#include <utility>

#include "text/unicode.hpp"

namespace slivr {
namespace {

constexpr std::array<std::string_view, 11> kNames = {
    "rust", "python", "javascript", "typescript", "go", "cpp", "java", "html", "sql", "markdown", "generic",
};

// Names are compared after lower-casing.
constexpr std::pair<std::string_view, CodeLanguage> kAliases[] = {
    {"rust", CodeLanguage::Rust},
    {"rs", CodeLanguage::Rust},
    {"python", CodeLanguage::Python},
    {"py", CodeLanguage::Python},
    {"javascript", CodeLanguage::JavaScript},
    {"js", CodeLanguage::JavaScript},
    {"typescript", CodeLanguage::TypeScript},
    {"ts", CodeLanguage::TypeScript},
    {"go", CodeLanguage::Go},
    {"golang", CodeLanguage::Go},
    {"cpp", CodeLanguage::Cpp},
    {"c++", CodeLanguage::Cpp},
    {"c", CodeLanguage::Cpp},
    {"java", CodeLanguage::Java},
    {"html", CodeLanguage::Html},
    {"htm", CodeLanguage::Html},
    {"sql", CodeLanguage::Sql},
    {"markdown", CodeLanguage::Markdown},
    {"md", CodeLanguage::Markdown},
};

std::vector<std::string> with_fallbacks(std::initializer_list<const char*> own) {
    std::vector<std::string> out(own.begin(), own.end());
    out.insert(out.end(), {"\n\n", "\n", " ", ""});
    return out;
}

}  // namespace

std::vector<std::string> get_separators(CodeLanguage language) {
    switch (language) {
        case CodeLanguage::Rust:
            return with_fallbacks({"\nimpl ", "\ntrait ", "\npub fn ", "\nfn ", "\npub struct ", "\nstruct ",
                                   "\npub enum ", "\nenum ", "\npub mod ", "\nmod "});
        case CodeLanguage::Python:
            return with_fallbacks({"\nclass ", "\ndef ", "\nasync def ", "\n\tdef ", "\n    def "});
        case CodeLanguage::JavaScript:
        case CodeLanguage::TypeScript:
            return with_fallbacks({"\nclass ", "\nexport class ", "\nfunction ", "\nexport function ",
                                   "\nexport default ", "\ninterface ", "\ntype ", "\nconst ", "\nlet "});
        case CodeLanguage::Go:
            return with_fallbacks({"\nfunc ", "\ntype ", "\npackage ", "\nimport "});
        case CodeLanguage::Cpp:
        case CodeLanguage::Java:
            return with_fallbacks({"\nclass ", "\npublic ", "\nprotected ", "\nprivate ", "\nvoid "});
        case CodeLanguage::Html:
            return with_fallbacks({"\n<article", "\n<section", "\n<div", "\n<p", "\n<table"});
        case CodeLanguage::Sql:
            return with_fallbacks({"\nCREATE TABLE ", "\nCREATE VIEW ", "\nSELECT ", "\nINSERT INTO ", "\nUPDATE ",
                                   "\nDELETE FROM "});
        case CodeLanguage::Markdown:
            // Unlike the headings, the fence separator has no line feed in front: it matches three
            // backquotes ending any line, indented or not, and the cut falls before them.
            return with_fallbacks({"\n# ", "\n## ", "\n### ", "\n#### ", "\n##### ", "\n###### ", "```\n"});
        case CodeLanguage::Generic:
            break;
    }
    return with_fallbacks({});
}

std::string_view language_name(CodeLanguage language) { return kNames[static_cast<std::size_t>(language)]; }

CodeLanguage code_language_from_name(std::string_view name) {
    const std::string lower = text::to_lower(name);
    for (const auto& [alias, language] : kAliases) {
        if (alias == lower) return language;
    }
    return CodeLanguage::Generic;
}

CodeChunker::CodeChunker(CodeLanguage language, std::uint64_t chunk_size, std::uint64_t overlap)
    : LabelledRecursiveChunker(get_separators(language), chunk_size, overlap, "language", language_name(language)),
      language(language) {}

}  // namespace slivr
