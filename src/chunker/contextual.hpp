// Chunks of a base chunker, each given a short extractive description of where it comes from
// (document title, section, position), kept in "context" and by default written in front of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "chunker/base.hpp"

namespace slivr {

// Describes one chunk of `text`: the chunk (with its base chunker's metadata), its 0-based
// position and the number of chunks. Implementations are immutable and callable from several
// threads at once.
class ContextGenerator {
public:
    virtual ~ContextGenerator() = default;
    virtual Result<std::string> generate_context(std::string_view text, const Document& chunk, std::size_t index,
                                                 std::size_t total) const = 0;

    // The contexts of all chunks of `text`, in order, or the first error. The default calls
    // `generate_context` for each chunk; a generator that derives something from the whole text
    // overrides it to derive that once per text instead of once per chunk.
    virtual Result<std::vector<std::string>> generate_contexts(std::string_view text,
                                                               std::span<const Document> chunks) const;
};

// "Doc: <title> | Section: <section> | Part <i>/<n>" (the section only when the chunk's
// "header_path" is a non-empty string), cut to `max_context_chars` characters. The title is the
// first line that is not empty once trimmed and stripped of leading '#'s, else "Document".
class ExtractiveContextGenerator final : public ContextGenerator {
public:
    explicit ExtractiveContextGenerator(std::size_t max_context_chars = 200) : max_context_chars(max_context_chars) {}

    Result<std::string> generate_context(std::string_view text, const Document& chunk, std::size_t index,
                                         std::size_t total) const override;
    Result<std::vector<std::string>> generate_contexts(std::string_view text,
                                                       std::span<const Document> chunks) const override;

    // The title of `text` as described above (a view into `text`, or "Document").
    static std::string_view title_of(std::string_view text);

    const std::size_t max_context_chars;

private:
    std::string label(std::string_view title, const Document& chunk, std::size_t index, std::size_t total) const;
};

// What a chunk's content becomes, given its text and its context.
class ContentMode {
public:
    enum class Kind : std::uint8_t {
        Prefix,        // "[Context: <context>]\n\n<content>"
        MetadataOnly,  // the content unchanged; the context is only in the metadata
        Template,      // the template with "{context}" replaced, then "{content}" replaced
    };

    static ContentMode prefix() { return ContentMode(Kind::Prefix, {}); }
    static ContentMode metadata_only() { return ContentMode(Kind::MetadataOnly, {}); }
    static ContentMode with_template(std::string template_text) {
        return ContentMode(Kind::Template, std::move(template_text));
    }

    Kind kind() const { return kind_; }
    const std::string& template_text() const { return template_; }

    std::string apply(std::string_view content, std::string_view context) const;

private:
    ContentMode(Kind kind, std::string template_text) : kind_(kind), template_(std::move(template_text)) {}

    Kind kind_;
    std::string template_;
};

class ContextualChunker final : public Chunker {
public:
    // Prefix mode, a RecursiveChunker with its defaults, an ExtractiveContextGenerator with 200.
    ContextualChunker();

    ContextualChunker with_base_chunker(std::shared_ptr<const Chunker> base) &&;
    ContextualChunker with_context_generator(std::shared_ptr<const ContextGenerator> generator) &&;
    ContextualChunker with_content_mode(ContentMode mode) &&;

    Result<Documents> chunk(std::string_view text) const override;

    const ContentMode& content_mode() const { return mode_; }
    const std::shared_ptr<const Chunker>& base_chunker() const { return base_; }
    const std::shared_ptr<const ContextGenerator>& context_generator() const { return generator_; }

private:
    ContentMode mode_;
    std::shared_ptr<const Chunker> base_;
    std::shared_ptr<const ContextGenerator> generator_;
};

}  // namespace slivr
