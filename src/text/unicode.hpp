// Unicode character classes and the text operations built on them. ASCII is answered inline;
// other characters go to ICU.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace slivr::text {

// The Unicode White_Space property.
bool is_white_space_slow(char32_t c);
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
std::size_t skip_white_space(std::string_view s, std::size_t pos);
// Byte offset of the first white-space character at or after `pos` (or s.size()).
std::size_t skip_word(std::string_view s, std::size_t pos);

// Calls `visit(word)` for every word of `s` in order. A word is a maximal run of characters that
// are not white space, punctuation included; the views point into `s`.
template <typename Visit>
void for_each_word(std::string_view s, Visit&& visit) {
    std::size_t pos = skip_white_space(s, 0);
    while (pos < s.size()) {
        const std::size_t end = skip_word(s, pos);
        visit(s.substr(pos, end - pos));
        pos = skip_white_space(s, end);
    }
}

// The words of `s` as views into it.
std::vector<std::string_view> split_words(std::string_view s);

// The last word of `s`: the maximal run of non-white-space characters that ends `s` (empty when
// `s` ends in white space or is empty).
std::string_view last_word(std::string_view s);

}  // namespace slivr::text
