// The shape shared by the code and HTML chunkers: a RecursiveChunker with a separator list of its
// own whose chunks all carry one fixed metadata entry naming what was cut.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "chunker/base.hpp"
#include "chunker/recursive.hpp"

namespace slivr {

class LabelledRecursiveChunker : public Chunker {
public:
    // The inner chunker's chunks, each with `key` set to `value` (the chunker's own "length" and
    // "chunk_index" stay). Errors are the inner chunker's, unchanged.
    Result<Documents> chunk(std::string_view text) const override;

    // In bytes, as the inner chunker counts them.
    const std::uint64_t chunk_size;
    const std::uint64_t overlap;

protected:
    // `key` and `value` must outlive the chunker (they are string literals).
    LabelledRecursiveChunker(std::vector<std::string> separators, std::uint64_t chunk_size, std::uint64_t overlap,
                             std::string_view key, std::string_view value);

private:
    RecursiveChunker inner_;
    std::string_view key_;
    std::string_view value_;
};

}  // namespace slivr
