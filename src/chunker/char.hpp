// Fixed-size, overlapping windows of characters.
#pragma once

#include <cstdint>

#include "chunker/base.hpp"

namespace slivr {

class CharacterChunker final : public Chunker {
public:
    CharacterChunker(std::uint64_t chunk_size, std::uint64_t overlap) : chunk_size(chunk_size), overlap(overlap) {}

    Result<Documents> chunk(std::string_view text) const override;

    const std::uint64_t chunk_size;
    const std::uint64_t overlap;
};

}  // namespace slivr
