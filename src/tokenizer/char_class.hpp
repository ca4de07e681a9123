// The character classes of the pre-tokenisation patterns, from the tokenizer's own Unicode table
// (see unicode_classes.inc for why it does not ask ICU).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace slivr::tokenizer {

// Bit flags of one character. A character in none of kLetter, kNumber and kSpace is what the
// patterns write as [^\s\p{L}\p{N}].
enum CharFlag : std::uint8_t {
    kLetter = 1,     // \p{L}
    kNumber = 2,     // \p{N}
    kMark = 4,       // \p{M}
    kSpace = 8,      // \s (White_Space)
    kUpperish = 16,  // [\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]
    kLowerish = 32,  // [\p{Ll}\p{Lm}\p{Lo}\p{M}]
    kNewline = 64,   // [\r\n]
};

inline bool is_other(std::uint8_t flags) { return (flags & (kLetter | kNumber | kSpace)) == 0; }

// One decoded character: its flags and its length in bytes.
struct CharInfo {
    std::uint8_t flags;
    std::uint8_t size;
};

// The flags of every code point, in a two-stage table built once per process.
class CharClasses {
public:
    static const CharClasses& get();

    std::uint8_t flags(char32_t c) const {
        if (c < 0x80) return ascii_[c];
        if (c > 0x10FFFF) return 0;
        return blocks_[(std::size_t{stage1_[c >> 8]} << 8) | (c & 0xFF)];
    }

    // The character that starts at `pos` (< text.size()). A byte that does not start a valid
    // UTF-8 sequence counts as one character of no class.
    CharInfo at(std::string_view text, std::size_t pos) const {
        const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + pos;
        if (p[0] < 0x80) return {ascii_[p[0]], 1};
        return decode(p, text.size() - pos);
    }

private:
    CharClasses();
    CharInfo decode(const unsigned char* p, std::size_t available) const;

    std::uint8_t ascii_[128];
    std::uint16_t stage1_[0x1100];
    std::uint8_t* blocks_;  // owned by the process-wide instance, which is never destroyed
};

}  // namespace slivr::tokenizer
