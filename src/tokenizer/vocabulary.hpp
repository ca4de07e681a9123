// A byte-pair-encoding vocabulary: the rank of every token's bytes, read from a `.tiktoken` file
// (one line per token: its bytes in base64, a blank, its rank).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "error/error.hpp"

namespace slivr::tokenizer {

using Rank = std::uint32_t;
inline constexpr Rank kNoRank = 0xFFFFFFFF;

class Vocabulary {
public:
    // Parses the contents of a vocabulary file; `source` names it in error messages.
    static Result<Vocabulary> parse(std::string_view contents, std::string_view source);
    static Result<Vocabulary> load(const std::string& path);

    // The rank of the token whose bytes are `bytes`, or kNoRank.
    Rank rank(std::string_view bytes) const {
        if (bytes.size() <= 2) {
            const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
            if (bytes.size() == 2) return pair_rank(p[0], p[1]);
            return bytes.size() == 1 ? byte_rank(p[0]) : kNoRank;
        }
        return bytes.size() <= max_token_size_ ? lookup(bytes) : kNoRank;
    }
    Rank byte_rank(unsigned char b) const { return byte_ranks_[b]; }
    Rank pair_rank(unsigned char a, unsigned char b) const { return pair_ranks_[(std::size_t{a} << 8) | b]; }

    // The bytes of the token of rank `r`; empty when no token has that rank.
    std::string_view token(Rank r) const {
        if (std::size_t{r} + 1 >= offsets_.size()) return {};
        return std::string_view(bytes_).substr(offsets_[r], offsets_[r + 1] - offsets_[r]);
    }
    std::size_t token_size(Rank r) const { return offsets_[r + 1] - offsets_[r]; }
    std::size_t size() const { return count_; }

private:
    // A token's first eight bytes and its length live in its slot, so most lookups (and every
    // lookup of a token of up to eight bytes) settle without touching the token bytes.
    struct Slot {
        std::uint64_t head = 0;  // the first eight bytes, zero-padded
        Rank rank = kNoRank;
        std::uint32_t key = 0;  // size << 16 | 16 bits of the hash
    };

    Rank lookup(std::string_view bytes) const;
    // Fills the hash index; false when two ranks share the same bytes.
    bool build_index();

    std::string bytes_;                   // every token's bytes, in rank order
    std::vector<std::uint32_t> offsets_;  // rank -> start in bytes_; one more entry than ranks
    std::vector<Slot> slots_;             // open addressing over the tokens of three bytes or more
    // 15 bits of each slot's hash (0 for an empty slot), probed before the slot itself: most
    // lookups during merging miss, and this array is an eighth of the size of the slots.
    std::vector<std::uint16_t> tags_;
    std::vector<Rank> pair_ranks_;        // two-byte tokens, indexed by their bytes
    Rank byte_ranks_[256];
    std::size_t max_token_size_ = 0;
    std::size_t count_ = 0;
};

}  // namespace slivr::tokenizer
