// Chunking by sentences and by paragraphs, and the one sentence splitter of the library.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "chunker/base.hpp"

namespace slivr {

// The sentences of `text` in order, each trimmed and never empty (views into `text`). A sentence
// ends after `.`, `!` or `?` (and at most one closing quote or bracket) that is followed by white
// space or the end of the text, except after a doubled period or a known abbreviation. Never fails;
// a blank text has no sentences.
std::vector<std::string_view> split_sentences(std::string_view text);

// The paragraphs of `text`: the pieces between occurrences of "\n\n", trimmed, empty ones dropped.
std::vector<std::string_view> split_paragraphs(std::string_view text);

class SentenceChunker final : public Chunker {
public:
    SentenceChunker(std::uint64_t sentences_per_chunk, std::uint64_t overlap,
                    std::optional<std::uint64_t> max_characters)
        : sentences_per_chunk(sentences_per_chunk), overlap(overlap), max_characters(max_characters) {}

    Result<Documents> chunk(std::string_view text) const override;

    static std::vector<std::string_view> split_sentences(std::string_view text) { return slivr::split_sentences(text); }

    const std::uint64_t sentences_per_chunk;
    const std::uint64_t overlap;
    // When present, a chunk keeps at most this many characters (then trimmed).
    const std::optional<std::uint64_t> max_characters;
};

class ParagraphChunker final : public Chunker {
public:
    ParagraphChunker(std::uint64_t paragraphs_per_chunk, std::uint64_t overlap)
        : paragraphs_per_chunk(paragraphs_per_chunk), overlap(overlap) {}

    Result<Documents> chunk(std::string_view text) const override;

    static std::vector<std::string_view> split_paragraphs(std::string_view text) { return slivr::split_paragraphs(text); }

    const std::uint64_t paragraphs_per_chunk;
    const std::uint64_t overlap;
};

}  // namespace slivr
