// Unicode character classes and the text operations built on them. ASCII is answered inline;
// other characters go to tables read from ICU, or to ICU itself.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "text/swar.hpp"
#include "text/utf8.hpp"

namespace slivr::text {

// The Unicode White_Space property. The set has been fixed since Unicode 6.3; a test checks it
// against ICU for every code point.
inline bool is_white_space_slow(char32_t c) {
    if (c < 0x2000) return c == ' ' || (c >= '\t' && c <= '\r') || c == 0x85 || c == 0xA0 || c == 0x1680;
    return c <= 0x200A || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}
inline bool is_white_space(char32_t c) {
    if (c < 0x80) return c == ' ' || (c >= '\t' && c <= '\r');
    return is_white_space_slow(c);
}

// The Unicode Alphabetic property, or a number of general category Nd, Nl or No.
bool is_alphanumeric_slow(char32_t c);
inline bool is_alphanumeric(char32_t c) {
    if (c < 0x80) return (c | 0x20) - U'a' < 26 || c - U'0' < 10;
    return is_alphanumeric_slow(c);
}

// `s` without white space at either end.
std::string_view trim(std::string_view s);
std::string_view trim_start(std::string_view s);
std::string_view trim_end(std::string_view s);

// True when `s` holds nothing but white space (or nothing at all).
inline bool is_blank(std::string_view s) { return trim_start(s).empty(); }

// The full Unicode lower-case mapping of a string (root locale; a capital sigma becomes a final
// sigma at the end of a word). The result may be longer or shorter than `s` in bytes.
std::string to_lower(std::string_view s);
// The same into `out`, replacing its contents; reusing one buffer avoids an allocation per call.
void to_lower_into(std::string_view s, std::string& out);

// Byte offset of the first character at or after `pos` that is not white space (or s.size()).
// Eight bytes are tested at a time; only a byte that may begin a white-space character other than
// ASCII is decoded.
inline std::size_t skip_white_space(std::string_view s, std::size_t pos) {
    const std::size_t n = s.size();
    while (pos < n) {
        const std::size_t left = n - pos;
        // Zero bytes past the end are not white space, so they stop the scan at s.size().
        const std::uint64_t x = left >= 8 ? swar::load(s.data() + pos) : swar::load_partial(s.data() + pos, left);
        const std::uint64_t stop = ~swar::ascii_white_space(x) & swar::kHigh;
        if (stop == 0) {
            pos += 8;
            continue;
        }
        pos += swar::first(stop);
        if (pos >= n) return n;
        if (static_cast<unsigned char>(s[pos]) < 0x80) return pos;
        std::size_t next = pos;
        if (!is_white_space_slow(utf8::decode(s, next))) return pos;
        pos = next;
    }
    return n;
}

// Byte offset of the first white-space character at or after `pos` (or s.size()).
inline std::size_t skip_word(std::string_view s, std::size_t pos) {
    const std::size_t n = s.size();
    while (pos < n) {
        const std::size_t left = n - pos;
        std::uint64_t stop;
        if (left >= 8) {
            stop = swar::may_start_white_space(swar::load(s.data() + pos));
        } else {
            // A mark in every byte past the end stops the scan at s.size().
            stop = swar::may_start_white_space(swar::load_partial(s.data() + pos, left)) | (swar::kHigh << (8 * left));
        }
        if (stop == 0) {
            pos += 8;
            continue;
        }
        pos += swar::first(stop);
        if (pos >= n) return n;
        if (static_cast<unsigned char>(s[pos]) < 0x80) return pos;
        std::size_t next = pos;
        if (is_white_space_slow(utf8::decode(s, next))) return pos;
        pos = next;
    }
    return n;
}

namespace detail {

// The byte classes of one 64-byte block that white space depends on: bit i of each mask stands
// for byte i. Lead bytes of other white space: 0xC2 (U+0085, U+00A0), 0xE1 (U+1680), 0xE2
// (U+2000 to U+205F), 0xE3 (U+3000); 0x80 and 0x81 are the continuation bytes that follow them.
struct BlockClasses {
    std::uint64_t ascii_space;  // blank, TAB, LF, VT, FF, CR
    std::uint64_t high;         // bytes 0x80 and above
    std::uint64_t c2_or_e1;
    std::uint64_t e2;
    std::uint64_t e3;
    std::uint64_t x80;
    std::uint64_t x81;
};

// The classes of the 64 bytes at `p`, with SSE2 where the processor has it, byte by byte otherwise.
BlockClasses classify_block(const char* p);
BlockClasses classify_block_portable(const char* p);

// The white space of a text, 64 bytes at a time, in order: bit i of block(base) is set when byte
// base + i belongs to a white-space character or lies past the end of the text.
class SpaceMask {
public:
    explicit SpaceMask(std::string_view s) : s_(s) {}

    // `base` is a multiple of 64 below s.size(); blocks are asked for in increasing order.
    std::uint64_t block(std::size_t base) {
        const std::size_t left = s_.size() - base;
        BlockClasses c;
        if (left >= 64) {
            c = classify_block(s_.data() + base);
        } else {
            char padded[64];
            std::memcpy(padded, s_.data() + base, left);
            std::memset(padded + left, ' ', 64 - left);
            c = classify_block(padded);
        }
        std::uint64_t space = c.ascii_space | carry_;
        carry_ = 0;
        if (c.high != 0) space |= other_space(base, c);
        return space;
    }

private:
    // The bytes of the white-space characters above ASCII that start in the block. Their lead
    // bytes are rare outside such characters once the bytes after them are checked; the few
    // that remain are decoded.
    std::uint64_t other_space(std::size_t base, const BlockClasses& c);

    std::string_view s_;
    std::uint64_t carry_ = 0;  // bytes of the next block that end a white-space character
};

}  // namespace detail

// Calls `visit(word)` for every word of `s` in order. A word is a maximal run of characters that
// are not white space, punctuation included; the views point into `s`.
template <typename Visit>
void for_each_word(std::string_view s, Visit&& visit) {
    const std::size_t n = s.size();
    if (n == 0) return;
    detail::SpaceMask mask(s);
    std::size_t base = 0;
    std::uint64_t space = mask.block(0);
    std::size_t pos = 0;
    while (true) {
        // The start of the next word: the first byte at or after pos that is not white space.
        std::uint64_t bits = ~space & (~std::uint64_t{0} << (pos - base));
        while (bits == 0) {
            base += 64;
            if (base >= n) return;
            space = mask.block(base);
            bits = ~space;
        }
        const std::size_t start = base + static_cast<std::size_t>(std::countr_zero(bits));
        // Its end: the next white-space byte, which exists since bytes past the end count as such.
        bits = space & (~std::uint64_t{0} << (start - base));
        while (bits == 0) {
            base += 64;
            space = base < n ? mask.block(base) : ~std::uint64_t{0};
            bits = space;
        }
        const std::size_t end = std::min(base + static_cast<std::size_t>(std::countr_zero(bits)), n);
        visit(std::string_view(s.data() + start, end - start));
        if (end >= n) return;
        pos = end;
    }
}

// The words of `s` as views into it.
std::vector<std::string_view> split_words(std::string_view s);

// The last word of `s`: the maximal run of non-white-space characters that ends `s` (empty when
// `s` ends in white space or is empty).
std::string_view last_word(std::string_view s);

}  // namespace slivr::text
