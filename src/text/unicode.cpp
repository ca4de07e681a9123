#include "text/unicode.hpp"

#include <unicode/uchar.h>

#include "text/utf8.hpp"

namespace slivr::text {

bool is_white_space_slow(char32_t c) { return u_isUWhiteSpace(static_cast<UChar32>(c)) != 0; }

std::string_view trim_start(std::string_view s) {
    std::size_t pos = 0;
    while (pos < s.size()) {
        const unsigned char b = static_cast<unsigned char>(s[pos]);
        if (b < 0x80) {
            if (!is_white_space(b)) break;
            ++pos;
            continue;
        }
        std::size_t next = pos;
        if (!is_white_space_slow(utf8::decode(s, next))) break;
        pos = next;
    }
    return s.substr(pos);
}

std::string_view trim_end(std::string_view s) {
    std::size_t end = s.size();
    while (end > 0) {
        const unsigned char b = static_cast<unsigned char>(s[end - 1]);
        if (b < 0x80) {
            if (!is_white_space(b)) break;
            --end;
            continue;
        }
        std::size_t prev = end;
        if (!is_white_space_slow(utf8::decode_before(s, prev))) break;
        end = prev;
    }
    return s.substr(0, end);
}

std::string_view trim(std::string_view s) { return trim_end(trim_start(s)); }

}  // namespace slivr::text
