// Words as the analytic chunkers compare them: lower-cased and stripped of the punctuation around
// them, and the sets they are kept in. Shared by the query-aware, proposition and agentic chunkers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "text/swar.hpp"
#include "text/unicode.hpp"

namespace slivr::terms {

// The Unicode Alphabetic property (digits are not alphabetic).
bool is_alphabetic_slow(char32_t c);
inline bool is_alphabetic(char32_t c) {
    if (c < 0x80) return (c | 0x20) - U'a' < 26;
    return is_alphabetic_slow(c);
}

std::string_view strip_non_alphanumeric_slow(std::string_view word);

// `word` without the characters at either end that are not alphanumeric. ASCII and two-byte
// characters at the ends are tested in place; longer ones go to the decoding form.
inline std::string_view strip_non_alphanumeric(std::string_view word) {
    // Per byte: 1 for an ASCII letter or digit, 2 for a byte of a character beyond ASCII.
    static constexpr auto kClass = [] {
        std::array<std::uint8_t, 256> c{};
        for (int b = 0; b < 256; ++b) {
            c[b] = b >= 0x80 ? 2 : (b >= '0' && b <= '9') || ((b | 0x20) >= 'a' && (b | 0x20) <= 'z') ? 1 : 0;
        }
        return c;
    }();
    const auto* p = reinterpret_cast<const unsigned char*>(word.data());
    // A two-byte character (lead 0xC2 to 0xDF: Latin, Greek, Cyrillic, ...) is decoded in place.
    const auto two_byte_alphanumeric = [p](std::size_t at) {
        return text::is_alphanumeric(char32_t(p[at] & 0x1F) << 6 | (p[at + 1] & 0x3F));
    };
    const auto is_two_byte_lead = [](unsigned char b) { return b >= 0xC2 && b < 0xE0; };
    std::size_t start = 0;
    std::size_t end = word.size();
    for (; start < end; ++start) {
        const std::uint8_t c = kClass[p[start]];
        if (c == 1) break;
        if (c == 2) {
            if (is_two_byte_lead(p[start]) && two_byte_alphanumeric(start)) break;
            return strip_non_alphanumeric_slow(word);
        }
    }
    for (; end > start; --end) {
        const std::uint8_t c = kClass[p[end - 1]];
        if (c == 1) break;
        if (c == 2) {
            if (end - start >= 2 && is_two_byte_lead(p[end - 2]) && two_byte_alphanumeric(end - 2)) break;
            return strip_non_alphanumeric_slow(word);
        }
    }
    return std::string_view(word.data() + start, end - start);
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
    using swar::load32;
    const auto load64 = swar::load;
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

// True when the `n` bytes at `a` and `b` are equal; reads no byte outside them. Words are short,
// so two overlapping loads usually settle it without a library call.
inline bool same_bytes(const char* a, const char* b, std::size_t n) {
    using swar::load32;
    const auto load64 = swar::load;
    if (n >= 8) {
        for (std::size_t i = 0; i + 8 < n; i += 8) {
            if (load64(a + i) != load64(b + i)) return false;
        }
        return load64(a + n - 8) == load64(b + n - 8);
    }
    if (n >= 4) return load32(a) == load32(b) && load32(a + n - 4) == load32(b + n - 4);
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

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
    bool insert(std::string_view word, std::uint64_t hash) {
        const std::size_t size = entries_.size();
        return position(word, hash) == size;
    }
    bool contains(std::string_view word, std::uint64_t hash) const { return find(word, hash) != kEmpty; }
    // The position of `word` in the set (see operator[]), or npos when absent.
    std::size_t find(std::string_view word) const {
        return (lengths_ & length_bit(word.size())) != 0 ? find(word, hash_bytes(word)) : kEmpty;
    }
    std::size_t find(std::string_view word, std::uint64_t hash) const {
        if ((lengths_ & length_bit(word.size())) == 0) return kEmpty;
        return slots_[find_slot(word, hash)];
    }
    // The position of `word` in the set (see operator[]), added first if absent.
    std::size_t position(std::string_view word, std::uint64_t hash) {
        // Kept at most half full, so that probe sequences stay short.
        if (2 * (entries_.size() + 1) > slots_.size()) grow();
        const std::size_t slot = find_slot(word, hash);
        return slots_[slot] != kEmpty ? slots_[slot] : add(word, hash, slot);
    }

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    // The i-th word added, and its hash.
    std::string_view operator[](std::size_t i) const {
        return std::string_view(bytes_.data() + entries_[i].offset, entries_[i].length);
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
    static constexpr std::size_t kEmpty = std::string_view::npos;

    // The slot holding `word`, or the empty slot where it would go (the set has empty slots).
    std::size_t find_slot(std::string_view word, std::uint64_t hash) const {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            const std::size_t e = slots_[i];
            if (e == kEmpty) return i;
            const Entry& entry = entries_[e];
            if (entry.hash == hash && entry.length == word.size() &&
                same_bytes(bytes_.data() + entry.offset, word.data(), word.size())) {
                return i;
            }
        }
    }
    // Adds `word`, absent, at the empty slot `slot`; returns its position.
    std::size_t add(std::string_view word, std::uint64_t hash, std::size_t slot);
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
