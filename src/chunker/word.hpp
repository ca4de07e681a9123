// Windows of a fixed number of words, joined with single blanks.
#pragma once

#include <cstdint>

#include "chunker/base.hpp"

namespace slivr {

class WordChunker final : public Chunker {
public:
    WordChunker(std::uint64_t chunk_size, std::uint64_t overlap) : chunk_size(chunk_size), overlap(overlap) {}

    Result<Documents> chunk(std::string_view text) const override;

    // Words per window, and words shared with the previous window.
    const std::uint64_t chunk_size;
    const std::uint64_t overlap;
};

}  // namespace slivr
