// Eight bytes of text tested at once in one 64-bit integer. A test leaves 0x80 in each byte that
// passes and 0 in the others; the first passing byte is at countr_zero(result) / 8.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace slivr::swar {

inline constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
inline constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
inline constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;

// The eight bytes at `p`, the first in the lowest byte.
inline std::uint64_t load(const char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) v = std::byteswap(v);
    return v;
}

// The four bytes at `p`, the first in the lowest byte.
inline std::uint32_t load32(const char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big) v = std::byteswap(v);
    return v;
}

// The `n` (< 8) bytes at `p`, the rest zero.
inline std::uint64_t load_partial(const char* p, std::size_t n) {
    unsigned char bytes[8] = {};
    std::memcpy(bytes, p, n);
    return load(reinterpret_cast<const char*>(bytes));
}

inline void store(char* p, std::uint64_t v) {
    if constexpr (std::endian::native == std::endian::big) v = std::byteswap(v);
    std::memcpy(p, &v, 8);
}

// The index of the first passing byte of a non-zero test result.
inline std::size_t first(std::uint64_t result) { return static_cast<std::size_t>(std::countr_zero(result)) >> 3; }

// The bytes of `low7` (every byte below 0x80) equal to `c` (< 0x80). No sum carries into the next
// byte, so the test is exact for every byte, unlike the usual zero-byte trick.
inline std::uint64_t equal(std::uint64_t low7, unsigned char c) {
    return ~((low7 ^ (kOnes * c)) + kLow7) & kHigh;
}

// The bytes of `low7` (every byte below 0x80) in [lo, hi] (lo <= hi < 0x80).
inline std::uint64_t in_range(std::uint64_t low7, unsigned char lo, unsigned char hi) {
    return (low7 + kOnes * (0x80u - lo)) & ~(low7 + kOnes * (0x7Fu - hi)) & kHigh;
}

// The bytes below 0x80.
inline std::uint64_t ascii(std::uint64_t x) { return ~x & kHigh; }

// The ASCII white-space bytes: blank, TAB, LF, VT, FF, CR.
inline std::uint64_t ascii_white_space(std::uint64_t x) {
    const std::uint64_t low = x & kLow7;
    return (in_range(low, '\t', '\r') | equal(low, ' ')) & ascii(x);
}

// The bytes that can start a white-space character: ASCII white space, and the lead bytes of the
// others where the bytes after them allow it: 0xC2 (U+0085, U+00A0), 0xE1 (U+1680), 0xE2 0x80 or
// 0xE2 0x81 (U+2000 to U+205F) and 0xE3 0x80 0x80 (U+3000, whose lead byte also begins every
// kana and the common CJK punctuation). Bytes past the eight count as allowing it.
inline std::uint64_t may_start_white_space(std::uint64_t x) {
    const std::uint64_t low = x & kLow7;
    const std::uint64_t ascii_space = in_range(low, '\t', '\r') | equal(low, ' ');
    const std::uint64_t high = x & kHigh;
    if (high == 0) return ascii_space;
    const std::uint64_t b80 = equal(low, 0x00) & high;
    const std::uint64_t b81 = equal(low, 0x01) & high;
    // Byte k + 1 (k + 2) of each test moved to byte k.
    const std::uint64_t then_80_or_81 = ((b80 | b81) >> 8) | (std::uint64_t{0x80} << 56);
    const std::uint64_t then_80_80 = (b80 >> 8 | std::uint64_t{0x80} << 56) & (b80 >> 16 | std::uint64_t{0x8080} << 48);
    const std::uint64_t lead = (equal(low, 0xC2 & 0x7F) | equal(low, 0xE1 & 0x7F) |
                                (equal(low, 0xE2 & 0x7F) & then_80_or_81) | (equal(low, 0xE3 & 0x7F) & then_80_80)) &
                               high;
    return (ascii_space & ~high) | lead;
}

// `x` (every byte below 0x80) with A-Z turned into a-z.
inline std::uint64_t ascii_to_lower(std::uint64_t x) { return x | (in_range(x, 'A', 'Z') >> 2); }

}  // namespace slivr::swar
