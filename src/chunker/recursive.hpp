// Splitting at the strongest separator available, then greedy merging of the pieces into chunks of
// at most `chunk_size` bytes with whole-piece overlap. Other chunkers build one with the default
// constructor, set the open fields, and call `chunk`.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "chunker/base.hpp"

namespace slivr {

// Where a separator goes when a text is cut at it.
enum class SeparatorPlacement : std::uint8_t {
    Start,  // at the start of the following piece
    End,    // at the end of the preceding piece
};

class RecursiveChunker final : public Chunker {
public:
    // The defaults: paragraph break, line feed, blank, then characters; 1000 bytes, 200 overlap.
    RecursiveChunker();

    Result<Documents> chunk(std::string_view text) const override;

    // Appends the pieces of `text` to `out`: views into `text`, contiguous and in order. Texts
    // longer than `chunk_size` bytes are cut at the first separator of the list that occurs in
    // them, and parts still too long are cut with the separators after it. An empty separator
    // means: cut by characters here.
    static void split_recursive_into(std::uint64_t chunk_size, SeparatorPlacement placement, std::string_view text,
                                     std::span<const std::string> separators, std::vector<std::string_view>& out);

    // Appends consecutive views of `size` characters each (the last may be shorter) covering `text`.
    // A size of 0 is taken as 1.
    static void split_by_char_indices_into(std::uint64_t size, std::string_view text,
                                           std::vector<std::string_view>& out);

    // Tried in order, strongest first.
    std::vector<std::string> separators;
    // Target maximum chunk length in bytes.
    std::uint64_t chunk_size;
    // The most bytes of whole pieces carried from the end of one chunk into the next.
    std::uint64_t overlap;
    SeparatorPlacement placement = SeparatorPlacement::Start;
};

}  // namespace slivr
