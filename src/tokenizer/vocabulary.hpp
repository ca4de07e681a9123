// A byte-pair-encoding vocabulary: the rank of every token's bytes, read from a `.tiktoken` file
// (one line per token: its bytes in base64, a blank, its rank).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
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
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        const std::size_t n = bytes.size();
        if (n <= 2) {
            if (n == 2) return pair_rank(p[0], p[1]);
            return n == 1 ? byte_rank(p[0]) : kNoRank;
        }
        // Most lookups while merging are of a few bytes: those hash their bytes as one word.
        if (n <= 8) {
            const std::uint64_t head = short_head(p, n);
            return find(bytes, head, short_hash(head, n));
        }
        return n <= max_token_size_ ? find(bytes, long_head(p), long_hash(bytes)) : kNoRank;
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
        std::uint32_t size = 0;
    };

    // The bytes of a string of three to eight bytes as one little-endian word.
    static std::uint64_t short_head(const unsigned char* p, std::size_t n) {
        if (n < 4) return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16);
        std::uint32_t lo;
        std::uint32_t hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + n - 4, 4);  // overlaps `lo` unless n is 8; the shared bytes agree
        return lo | (std::uint64_t{hi} << (8 * (n - 4)));
    }
    static std::uint64_t long_head(const unsigned char* p) {
        std::uint64_t head;
        std::memcpy(&head, p, 8);
        return head;
    }
    static std::uint64_t short_hash(std::uint64_t head, std::size_t n) {
        return (head ^ (std::uint64_t{n} << 58)) * 0x9E3779B97F4A7C15ULL;
    }
    static std::uint64_t long_hash(std::string_view bytes);

    // The slot index comes from the top bits of the hash, the tag from the bits below them.
    Rank find(std::string_view bytes, std::uint64_t head, std::uint64_t hash) const {
        const auto tag = static_cast<std::uint16_t>((hash >> (shift_ - 16)) | 1);
        for (std::size_t i = hash >> shift_;; i = (i + 1) & mask_) {
            const std::uint16_t t = tags_[i];
            if (t == 0) return kNoRank;
            if (t != tag) continue;
            const Slot& s = slots_[i];
            if (s.head == head && s.size == bytes.size() &&
                (bytes.size() <= 8 || std::memcmp(bytes_.data() + offsets_[s.rank] + 8, bytes.data() + 8,
                                                  bytes.size() - 8) == 0)) {
                return s.rank;
            }
        }
    }

    // Fills the hash index; false when two ranks share the same bytes.
    bool build_index();

    std::string bytes_;                   // every token's bytes, in rank order
    std::vector<std::uint32_t> offsets_;  // rank -> start in bytes_; one more entry than ranks
    std::vector<Slot> slots_;             // open addressing over the tokens of three bytes or more
    // 15 bits of each slot's hash (0 for an empty slot), probed before the slot itself: most
    // lookups during merging miss, and this array is an eighth of the size of the slots.
    std::vector<std::uint16_t> tags_;
    std::size_t mask_ = 0;   // slots_.size() - 1
    unsigned shift_ = 64;    // 64 - log2(slots_.size())
    std::vector<Rank> pair_ranks_;        // two-byte tokens, indexed by their bytes
    Rank byte_ranks_[256];
    std::size_t max_token_size_ = 0;
    std::size_t count_ = 0;
};

}  // namespace slivr::tokenizer
