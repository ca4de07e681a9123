#include "chunker/contextual.hpp"

#include <algorithm>

#include "chunker/recursive.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace slivr {
namespace {

// `s` with every occurrence of `from` (non-empty) replaced by `to`, searching left to right.
std::string replace_all(std::string_view s, std::string_view from, std::string_view to) {
    std::string out;
    std::size_t pos = 0;
    while (true) {
        const std::size_t match = s.find(from, pos);
        if (match == std::string_view::npos) break;
        out.append(s.substr(pos, match - pos));
        out.append(to);
        pos = match + from.size();
    }
    out.append(s.substr(pos));
    return out;
}

std::string_view section_of(const Document& chunk) {
    const Json* path = chunk.metadata.find("header_path");
    if (path == nullptr || !path->is_string()) return {};
    return path->get_ref<const std::string&>();
}

}  // namespace

Result<std::vector<std::string>> ContextGenerator::generate_contexts(std::string_view text,
                                                                     std::span<const Document> chunks) const {
    std::vector<std::string> out;
    out.reserve(chunks.size());
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        auto context = generate_context(text, chunks[i], i, chunks.size());
        if (!context) return fail(std::move(context.error()));
        out.push_back(std::move(*context));
    }
    return out;
}

std::string_view ExtractiveContextGenerator::title_of(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text::trim(text.substr(pos, end - pos));
        line.remove_prefix(std::min(line.find_first_not_of('#'), line.size()));
        line = text::trim(line);
        if (!line.empty()) return line;
        pos = end + 1;
    }
    return "Document";
}

std::string ExtractiveContextGenerator::label(std::string_view title, const Document& chunk, std::size_t index,
                                              std::size_t total) const {
    std::string out = "Doc: ";
    out.append(title);
    const std::string_view section = section_of(chunk);
    if (!section.empty()) {
        out.append(" | Section: ");
        out.append(section);
    }
    out.append(" | Part ");
    out.append(std::to_string(index + 1));
    out.push_back('/');
    out.append(std::to_string(total));
    // Cut to the first max_context_chars characters, never inside one.
    if (out.size() > max_context_chars) out.resize(utf8::advance(out, 0, max_context_chars));
    return out;
}

Result<std::string> ExtractiveContextGenerator::generate_context(std::string_view text, const Document& chunk,
                                                                 std::size_t index, std::size_t total) const {
    return label(title_of(text), chunk, index, total);
}

Result<std::vector<std::string>> ExtractiveContextGenerator::generate_contexts(
    std::string_view text, std::span<const Document> chunks) const {
    // The title can lie behind a long run of blank or '#'-only lines; finding it once keeps a text
    // with many chunks linear.
    const std::string_view title = title_of(text);
    std::vector<std::string> out;
    out.reserve(chunks.size());
    for (std::size_t i = 0; i < chunks.size(); ++i) out.push_back(label(title, chunks[i], i, chunks.size()));
    return out;
}

std::string ContentMode::apply(std::string_view content, std::string_view context) const {
    switch (kind_) {
        case Kind::Prefix: {
            std::string out;
            out.reserve(content.size() + context.size() + 13);
            out.append("[Context: ");
            out.append(context);
            out.append("]\n\n");
            out.append(content);
            return out;
        }
        case Kind::MetadataOnly:
            return std::string(content);
        case Kind::Template:
            return replace_all(replace_all(template_, "{context}", context), "{content}", content);
    }
    return std::string(content);
}

ContextualChunker::ContextualChunker()
    : mode_(ContentMode::prefix()),
      base_(std::make_shared<const RecursiveChunker>()),
      generator_(std::make_shared<const ExtractiveContextGenerator>(200)) {}

ContextualChunker ContextualChunker::with_base_chunker(std::shared_ptr<const Chunker> base) && {
    base_ = std::move(base);
    return std::move(*this);
}

ContextualChunker ContextualChunker::with_context_generator(std::shared_ptr<const ContextGenerator> generator) && {
    generator_ = std::move(generator);
    return std::move(*this);
}

ContextualChunker ContextualChunker::with_content_mode(ContentMode mode) && {
    mode_ = std::move(mode);
    return std::move(*this);
}

Result<Documents> ContextualChunker::chunk(std::string_view text) const {
    auto chunks = base_->chunk(text);
    if (!chunks) return chunks;
    auto contexts = generator_->generate_contexts(text, *chunks);
    if (!contexts) return fail(std::move(contexts.error()));
    if (contexts->size() != chunks->size()) {
        return fail(SlivrError::generic("context generator returned " + std::to_string(contexts->size()) +
                                        " contexts for " + std::to_string(chunks->size()) + " chunks"));
    }
    for (std::size_t i = 0; i < chunks->size(); ++i) {
        Document& chunk = (*chunks)[i];
        chunk.content = mode_.apply(chunk.content, (*contexts)[i]);
        chunk.metadata.set("context", Json(std::move((*contexts)[i])));
        chunk.metadata.set("length", Json(static_cast<std::uint64_t>(chunk.content.size())));
    }
    return chunks;
}

}  // namespace slivr
