#include "error/error.hpp"

namespace slivr {

SlivrError SlivrError::invalid_chunk_size(std::uint64_t size) {
    SlivrError e(Kind::InvalidChunkSize);
    e.size_ = size;
    return e;
}

SlivrError SlivrError::invalid_chunk_overlap(std::uint64_t chunk_size, std::uint64_t overlap) {
    SlivrError e(Kind::InvalidChunkOverlap);
    e.size_ = chunk_size;
    e.overlap_ = overlap;
    return e;
}

std::string SlivrError::message() const {
    switch (kind_) {
    case Kind::EmptyInput:
        return "Empty input text provided";
    case Kind::InvalidChunkSize:
        return "Invalid chunk size: " + std::to_string(size_) + " (must be > 0)";
    case Kind::InvalidChunkOverlap:
        return "Invalid chunk overlap: " + std::to_string(overlap_) +
               " (must be strictly less than chunk_size " + std::to_string(size_) + ")";
    case Kind::Tokenizer:
        return "Tokenizer error: " + text_;
    case Kind::DocumentParse:
        return "Document parse error: " + text_;
    case Kind::Io:
        return "IO error: " + text_;
    case Kind::Generic:
        return "Generic error: " + text_;
    }
    return {};
}

}  // namespace slivr
