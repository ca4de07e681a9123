// The library's single error type and the Result alias every fallible operation returns.
#pragma once

#include <cstdint>
#include <expected>
#include <string>

namespace slivr {

class SlivrError {
public:
    enum class Kind : std::uint8_t {
        EmptyInput,
        InvalidChunkSize,
        InvalidChunkOverlap,
        Tokenizer,
        DocumentParse,
        Io,
        Generic,
    };

    static SlivrError empty_input() { return SlivrError(Kind::EmptyInput); }
    static SlivrError invalid_chunk_size(std::uint64_t size);
    static SlivrError invalid_chunk_overlap(std::uint64_t chunk_size, std::uint64_t overlap);
    static SlivrError tokenizer(std::string message) { return SlivrError(Kind::Tokenizer, std::move(message)); }
    static SlivrError document_parse(std::string message) { return SlivrError(Kind::DocumentParse, std::move(message)); }
    static SlivrError io(std::string message) { return SlivrError(Kind::Io, std::move(message)); }
    static SlivrError generic(std::string message) { return SlivrError(Kind::Generic, std::move(message)); }

    Kind kind() const { return kind_; }
    std::uint64_t chunk_size() const { return size_; }
    std::uint64_t overlap() const { return overlap_; }
    // The payload text of the kinds that carry one (empty for the others).
    const std::string& detail() const { return text_; }

    // The full user-facing message, rendered from the kind's fixed template.
    std::string message() const;

    friend bool operator==(const SlivrError&, const SlivrError&) = default;

private:
    explicit SlivrError(Kind kind, std::string text = {}) : kind_(kind), text_(std::move(text)) {}

    Kind kind_;
    std::uint64_t size_ = 0;
    std::uint64_t overlap_ = 0;
    std::string text_;
};

template <typename T>
using Result = std::expected<T, SlivrError>;

inline std::unexpected<SlivrError> fail(SlivrError error) { return std::unexpected(std::move(error)); }

}  // namespace slivr
