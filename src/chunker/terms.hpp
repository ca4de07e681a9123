// Words as the analytic chunkers compare them: lower-cased and stripped of the punctuation around
// them, and the sets they are kept in. Shared by the query-aware, proposition and agentic chunkers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "text/unicode.hpp"

namespace slivr::terms {

// The Unicode Alphabetic property (digits are not alphabetic).
bool is_alphabetic_slow(char32_t c);
inline bool is_alphabetic(char32_t c) {
    if (c < 0x80) return (c | 0x20) - U'a' < 26;
    return is_alphabetic_slow(c);
}

std::string_view strip_non_alphanumeric_slow(std::string_view word);

// `word` without the characters at either end that are not alphanumeric.
inline std::string_view strip_non_alphanumeric(std::string_view word) {
    // Most words begin and end with an ASCII letter or digit (a byte below 0x80 is a whole character).
    const auto ascii_alphanumeric = [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b < 0x80 && text::is_alphanumeric(b);
    };
    if (!word.empty() && ascii_alphanumeric(word.front()) && ascii_alphanumeric(word.back())) return word;
    return strip_non_alphanumeric_slow(word);
}

// `word` without the characters at either end that are not alphabetic.
std::string_view strip_non_alphabetic(std::string_view word);

// Calls `visit(term)` for every word of `text` in order, lower-cased and stripped of
// non-alphanumeric characters at both ends (possibly empty). `scratch` holds the lower-cased text;
// the views point into it and are valid until the next call.
template <typename Visit>
void for_each_normalized_word(std::string_view text, std::string& scratch, Visit&& visit) {
    // White space neither changes under lower-casing nor takes part in the final-sigma context, so
    // the words of the lower-cased text are the lower-cased words: one case mapping per text.
    text::to_lower_into(text, scratch);
    text::for_each_word(scratch, [&](std::string_view word) { visit(strip_non_alphanumeric(word)); });
}

// A fast hash for short byte strings (words): two overlapping 64-bit loads and a multiply mix.
inline std::uint64_t hash_bytes(std::string_view s) {
    const auto load64 = [](const char* p) {
        std::uint64_t v;
        std::memcpy(&v, p, 8);
        return v;
    };
    const auto load32 = [](const char* p) {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return std::uint64_t{v};
    };
    const auto mix = [](std::uint64_t a, std::uint64_t b) {
        const unsigned __int128 r = static_cast<unsigned __int128>(a) * b;
        return static_cast<std::uint64_t>(r) ^ static_cast<std::uint64_t>(r >> 64);
    };
    constexpr std::uint64_t k0 = 0xa0761d6478bd642fULL, k1 = 0xe7037ed1a0b428dbULL, k2 = 0x8ebc6af09c88c6e3ULL;
    const char* p = s.data();
    std::size_t n = s.size();
    std::uint64_t seed = k0 ^ n;
    std::uint64_t a = 0, b = 0;
    if (n > 16) {
        const char* const end = p + n;
        for (; n > 16; p += 16, n -= 16) seed = mix(load64(p) ^ k1, load64(p + 8) ^ seed);
        // The last 16 bytes, which may overlap the blocks already mixed.
        a = load64(end - 16);
        b = load64(end - 8);
    } else if (n >= 8) {
        a = load64(p);
        b = load64(p + n - 8);
    } else if (n >= 4) {
        a = load32(p);
        b = load32(p + n - 4);
    } else if (n > 0) {
        a = (std::uint64_t{static_cast<unsigned char>(p[0])} << 16) |
            (std::uint64_t{static_cast<unsigned char>(p[n >> 1])} << 8) | static_cast<unsigned char>(p[n - 1]);
    }
    return mix(a ^ k1, b ^ seed ^ k2);
}

// Hashing and comparison that accept any string-like key, so that a set of std::string can be
// searched with a view without building a string.
struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return hash_bytes(s); }
};
using StringSet = std::unordered_set<std::string, StringHash, std::equal_to<>>;

// A set of words kept in insertion order, their bytes in one buffer: adding, finding and clearing
// allocate nothing once the buffers have grown, which matters for sets refilled per sentence.
class TermSet {
public:
    // Adds `word` unless present; true when it was added.
    bool insert(std::string_view word) { return insert(word, hash_bytes(word)); }
    bool contains(std::string_view word) const {
        return (lengths_ & length_bit(word.size())) != 0 && contains(word, hash_bytes(word));
    }
    // The same with the word's hash_bytes() already at hand.
    bool insert(std::string_view word, std::uint64_t hash);
    bool contains(std::string_view word, std::uint64_t hash) const;

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    // The i-th word added, and its hash.
    std::string_view operator[](std::size_t i) const {
        return std::string_view(bytes_).substr(entries_[i].offset, entries_[i].length);
    }
    std::uint64_t hash_at(std::size_t i) const { return entries_[i].hash; }
    // Empties the set in time proportional to its size.
    void clear();

private:
    struct Entry {
        std::size_t offset;
        std::size_t length;
        std::size_t slot;
        std::uint64_t hash;
    };
    static constexpr std::size_t kEmpty = SIZE_MAX;

    // The slot holding `word`, or the empty slot where it would go.
    std::size_t find_slot(std::string_view word, std::uint64_t hash) const;
    void grow();

    // Bit min(length, 63) is set for the length of every word held: most lookups of a small set
    // (a query's terms) end here, without hashing.
    static std::uint64_t length_bit(std::size_t length) { return std::uint64_t{1} << (length < 63 ? length : 63); }

    std::uint64_t lengths_ = 0;
    std::string bytes_;
    std::vector<Entry> entries_;
    std::vector<std::size_t> slots_;  // entry index or kEmpty; size a power of two
};

}  // namespace slivr::terms
