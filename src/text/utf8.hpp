// Decoding and stepping through UTF-8 text. Inputs are valid UTF-8: every text reaches the
// library from a Python str or from a slice taken at a character boundary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace slivr::utf8 {

// The longest character encoding, in bytes.
inline constexpr std::size_t kMaxSequence = 4;

inline bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Byte length of the character whose first byte is `lead`.
inline std::size_t sequence_length(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    return 4;
}

// Decodes the character starting at `pos`; returns it and advances `pos` past it.
inline char32_t decode(std::string_view s, std::size_t& pos) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data()) + pos;
    const unsigned char b0 = p[0];
    if (b0 < 0x80) {
        pos += 1;
        return b0;
    }
    if (b0 < 0xE0) {
        pos += 2;
        return (char32_t(b0 & 0x1F) << 6) | (p[1] & 0x3F);
    }
    if (b0 < 0xF0) {
        pos += 3;
        return (char32_t(b0 & 0x0F) << 12) | (char32_t(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
    }
    pos += 4;
    return (char32_t(b0 & 0x07) << 18) | (char32_t(p[1] & 0x3F) << 12) | (char32_t(p[2] & 0x3F) << 6) |
           (p[3] & 0x3F);
}

// Decodes the character that ends just before `pos`; returns it and moves `pos` to its start.
inline char32_t decode_before(std::string_view s, std::size_t& pos) {
    std::size_t start = pos - 1;
    while (start > 0 && is_continuation(static_cast<unsigned char>(s[start]))) --start;
    std::size_t p = start;
    const char32_t c = decode(s, p);
    pos = start;
    return c;
}

// True when every byte is below 0x80; checks eight bytes at a time.
inline bool is_ascii(std::string_view s) {
    const char* p = s.data();
    std::size_t n = s.size();
    std::uint64_t acc = 0;
    while (n >= 32) {
        std::uint64_t w[4];
        std::memcpy(w, p, 32);
        acc |= w[0] | w[1] | w[2] | w[3];
        p += 32;
        n -= 32;
    }
    while (n >= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        acc |= w;
        p += 8;
        n -= 8;
    }
    unsigned char tail = 0;
    while (n-- > 0) tail |= static_cast<unsigned char>(*p++);
    return ((acc & 0x8080808080808080ULL) | (tail & 0x80)) == 0;
}

// Number of characters (Unicode scalar values) in `s`.
inline std::size_t count_chars(std::string_view s) {
    std::size_t n = 0;
    for (unsigned char b : s) n += !is_continuation(b);
    return n;
}

// The largest character boundary at or before byte offset `pos` (at most s.size()).
inline std::size_t floor_boundary(std::string_view s, std::size_t pos) {
    if (pos >= s.size()) return s.size();
    while (pos > 0 && is_continuation(static_cast<unsigned char>(s[pos]))) --pos;
    return pos;
}

// Byte offset reached after stepping `count` characters forward from byte offset `pos`,
// stopping at the end of the text.
inline std::size_t advance(std::string_view s, std::size_t pos, std::size_t count) {
    const std::size_t size = s.size();
    while (count > 0 && pos < size) {
        pos += sequence_length(static_cast<unsigned char>(s[pos]));
        --count;
    }
    return pos < size ? pos : size;
}

// Writes the scalar value `c` in UTF-8 at `out` (room for kMaxSequence bytes); returns the byte count.
inline std::size_t encode(char32_t c, char* out) {
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

// Appends the scalar value `c` in UTF-8.
inline void append(char32_t c, std::string& out) {
    char bytes[kMaxSequence];
    out.append(bytes, encode(c, bytes));
}

}  // namespace slivr::utf8
