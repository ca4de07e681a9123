// Windows of byte-pair-encoding tokens in one of the four published encodings.
#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <string_view>

#include "chunker/base.hpp"
#include "tokenizer/bpe.hpp"

namespace slivr {

using tokenizer::TokenEncoding;

class TokenChunker final : public Chunker {
public:
    // Checks the sizes (size > 0, overlap < size), then loads the encoding. Chunkers of one
    // encoding share its immutable tokenizer, read once per process.
    static Result<TokenChunker> with_encoding(std::uint64_t chunk_size, std::uint64_t overlap, TokenEncoding encoding);

    Result<Documents> chunk(std::string_view text) const override;

    // Tokens in the ordinary encoding of the whole, untrimmed text.
    std::size_t count_tokens(std::string_view text) const { return tokenizer_->count_tokens(text); }

    const std::uint64_t chunk_size;
    const std::uint64_t overlap;
    const TokenEncoding encoding;

private:
    TokenChunker(std::uint64_t chunk_size, std::uint64_t overlap, std::shared_ptr<const tokenizer::BpeTokenizer> t)
        : chunk_size(chunk_size), overlap(overlap), encoding(t->encoding()), tokenizer_(std::move(t)) {}

    std::shared_ptr<const tokenizer::BpeTokenizer> tokenizer_;
};

// The encoding an accepted name selects: an encoding name, its short form or a model name, matched
// after lower-casing and reading "-" as "_". Otherwise the message "Unsupported encoding: " followed
// by the name in that normalised form.
std::expected<TokenEncoding, std::string> token_encoding_from_name(std::string_view name);

}  // namespace slivr
