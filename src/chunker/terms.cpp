#include "chunker/terms.hpp"

#include <unicode/uchar.h>

#include "text/utf8.hpp"

namespace slivr::terms {
namespace {

template <typename Keep>
std::string_view strip(std::string_view word, Keep keep) {
    std::size_t start = 0;
    while (start < word.size()) {
        std::size_t next = start;
        if (keep(utf8::decode(word, next))) break;
        start = next;
    }
    std::size_t end = word.size();
    while (end > start) {
        std::size_t prev = end;
        if (keep(utf8::decode_before(word, prev))) break;
        end = prev;
    }
    return word.substr(start, end - start);
}

}  // namespace

bool is_alphabetic_slow(char32_t c) { return u_isUAlphabetic(static_cast<UChar32>(c)) != 0; }

std::string_view strip_non_alphanumeric(std::string_view word) {
    return strip(word, [](char32_t c) { return text::is_alphanumeric(c); });
}

std::string_view strip_non_alphabetic(std::string_view word) {
    return strip(word, [](char32_t c) { return is_alphabetic(c); });
}

}  // namespace slivr::terms
