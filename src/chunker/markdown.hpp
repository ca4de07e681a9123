// Markdown cut into sections at its headings: one chunk per section, each carrying the path of
// headings above it and whether it holds a fenced code block. Oversized sections are re-split by
// an inner RecursiveChunker and every piece keeps the section's heading path.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "chunker/base.hpp"
#include "chunker/recursive.hpp"

namespace slivr {

struct MarkdownHeading {
    std::uint8_t level;      // 1 to 6
    std::string_view title;  // a slice of the heading line, trailing characters kept
};

// The headings in force, outermost first. Levels run from 1 to 6 and a heading pops every entry of
// its own level or deeper, so the path never holds more than six entries.
class HeadingPath {
public:
    std::span<const MarkdownHeading> headings() const { return {entries_.data(), size_}; }
    void enter(MarkdownHeading heading) {
        while (size_ > 0 && entries_[size_ - 1].level >= heading.level) --size_;
        entries_[size_++] = heading;
    }

private:
    std::array<MarkdownHeading, 6> entries_{};
    std::size_t size_ = 0;
};

struct MarkdownSection {
    HeadingPath path;          // the headings in force where the section starts, its own last
    std::string_view content;  // untrimmed, never blank
    bool has_code_block;       // a fence line occurred inside the section
};

// The sections of `text` in order: a single pass over its lines.
std::vector<MarkdownSection> scan_markdown_sections(std::string_view text);

class MarkdownChunker final : public Chunker {
public:
    explicit MarkdownChunker(std::uint64_t chunk_size = 1000, std::uint64_t overlap = 150);

    Result<Documents> chunk(std::string_view text) const override;

    // Largest section, in bytes, emitted whole.
    const std::uint64_t chunk_size;
    // Handed to the inner chunker only.
    const std::uint64_t overlap;

private:
    RecursiveChunker inner_;
};

}  // namespace slivr
