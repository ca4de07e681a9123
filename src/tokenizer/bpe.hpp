// Byte-pair encoding with the four published encodings: pre-tokenise, merge by rank, decode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "error/error.hpp"
#include "tokenizer/pretokenize.hpp"
#include "tokenizer/vocabulary.hpp"

namespace slivr::tokenizer {

enum class TokenEncoding : std::uint8_t { cl100k_base, o200k_base, p50k_base, r50k_base };

inline constexpr TokenEncoding kTokenEncodings[] = {TokenEncoding::cl100k_base, TokenEncoding::o200k_base,
                                                    TokenEncoding::p50k_base, TokenEncoding::r50k_base};

// "cl100k_base", "o200k_base", "p50k_base" or "r50k_base".
std::string_view canonical_name(TokenEncoding encoding);

class BpeTokenizer {
public:
    // The process-wide tokenizer of `encoding`, read on first use from the vocabulary installed
    // beside the module; safe to call from several threads.
    static Result<std::shared_ptr<const BpeTokenizer>> shared(TokenEncoding encoding);
    // A fresh tokenizer read from `<directory>/<name>.tiktoken`.
    static Result<std::shared_ptr<const BpeTokenizer>> load(TokenEncoding encoding, const std::string& directory);
    // The folder the shared tokenizers are read from: `vocab` beside the loaded module.
    static std::string vocabulary_directory();

    TokenEncoding encoding() const { return encoding_; }

    // Ordinary encoding: text that looks like a special token is encoded as plain text.
    std::vector<Rank> encode_ordinary(std::string_view text) const;
    std::size_t count_tokens(std::string_view text) const;
    // The size in bytes of each token of the ordinary encoding.
    std::vector<std::uint16_t> token_sizes(std::string_view text) const;

    // The text of `tokens`; fails on an unknown token or when their bytes are not valid UTF-8.
    Result<std::string> decode(std::span<const Rank> tokens) const;

    BpeTokenizer(TokenEncoding encoding, Vocabulary vocabulary);

private:
    // Buffers of the long-piece merge, kept across the pieces of one text.
    struct LongMerge {
        std::vector<std::uint32_t> next;
        std::vector<std::uint32_t> prev;
        std::vector<Rank> token;
        std::vector<Rank> pair;
        std::vector<std::uint64_t> heap;
    };

    template <typename Emit>
    void encode_with(std::string_view text, Emit&& emit) const;
    // Merges a piece that is not itself a token (at least two bytes) into `out`.
    void merge_short(std::string_view piece, std::vector<Rank>& out) const;
    void merge_long(std::string_view piece, std::vector<Rank>& out, LongMerge& scratch) const;

    TokenEncoding encoding_;
    SplitPattern pattern_;
    Vocabulary vocab_;
};

}  // namespace slivr::tokenizer
