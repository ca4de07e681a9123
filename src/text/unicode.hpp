// Unicode character classes and the text operations built on them. ASCII is answered inline;
// other characters go to ICU.
#pragma once

#include <string_view>

namespace slivr::text {

// The Unicode White_Space property.
bool is_white_space_slow(char32_t c);
inline bool is_white_space(char32_t c) {
    if (c < 0x80) return c == ' ' || (c >= '\t' && c <= '\r');
    return is_white_space_slow(c);
}

// `s` without white space at either end.
std::string_view trim(std::string_view s);
std::string_view trim_start(std::string_view s);
std::string_view trim_end(std::string_view s);

// True when `s` holds nothing but white space (or nothing at all).
inline bool is_blank(std::string_view s) { return trim_start(s).empty(); }

}  // namespace slivr::text
