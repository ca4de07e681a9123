// Chunks a JSON document along its structure: values that fit become chunks, larger objects are
// cut into their members, larger arrays into runs of elements, larger scalars as text.
#pragma once

#include <cstdint>

#include "chunker/base.hpp"
#include "chunker/recursive.hpp"

namespace slivr {

class JsonChunker final : public Chunker {
public:
    explicit JsonChunker(std::uint64_t max_size = 1500);

    Result<Documents> chunk(std::string_view text) const override;

    // Largest serialised value, in characters, emitted as one chunk.
    const std::uint64_t max_size;

private:
    // Cuts invalid input and oversized scalars as plain text.
    RecursiveChunker inner_;
};

}  // namespace slivr
