#include "text/unicode.hpp"

#include <unicode/ucasemap.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdint>

#include "text/utf8.hpp"

namespace slivr::text {
namespace {

inline bool is_ascii_white_space(unsigned char b) { return b == ' ' || (b >= '\t' && b <= '\r'); }

// One case map for the process: ICU's conversion functions only read it, so every thread may share
// it. It is never closed, since worker threads may still be using it while the process exits.
const UCaseMap* root_case_map() {
    static const UCaseMap* const map = [] {
        UErrorCode status = U_ZERO_ERROR;
        UCaseMap* m = ucasemap_open("", U_FOLD_CASE_DEFAULT, &status);
        return U_SUCCESS(status) ? m : nullptr;
    }();
    return map;
}

constexpr std::size_t kMaxIcuSlice = std::size_t{1} << 28;

// Appends the lower-case mapping of `s` (at most kMaxIcuSlice bytes) to `out`.
bool icu_lower_append(const UCaseMap* map, std::string_view s, std::string& out) {
    const std::size_t base = out.size();
    const auto src_len = static_cast<int32_t>(s.size());
    // Lower-casing rarely grows a text; a little slack avoids the second pass in almost all cases.
    out.resize(base + s.size() + s.size() / 8 + 8);
    UErrorCode status = U_ZERO_ERROR;
    int32_t len = ucasemap_utf8ToLower(map, out.data() + base, static_cast<int32_t>(out.size() - base), s.data(),
                                       src_len, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        out.resize(base + static_cast<std::size_t>(len));
        status = U_ZERO_ERROR;
        len = ucasemap_utf8ToLower(map, out.data() + base, len, s.data(), src_len, &status);
    }
    if (U_FAILURE(status)) {
        out.resize(base);
        return false;
    }
    out.resize(base + static_cast<std::size_t>(len));
    return true;
}

void ascii_to_lower(std::string_view s, std::string& out) {
    out.resize(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        out[i] = static_cast<char>(static_cast<unsigned>(b - 'A') < 26 ? b + ('a' - 'A') : b);
    }
}

// Character by character, without context. Only used if ICU cannot give us a case map, which
// happens when its data is missing; the text still comes out lower-cased rather than unchanged.
void simple_to_lower(std::string_view s, std::string& out) {
    std::size_t pos = 0;
    while (pos < s.size()) {
        const UChar32 c = u_tolower(static_cast<UChar32>(utf8::decode(s, pos)));
        char buf[4];
        std::size_t n = 0;
        U8_APPEND_UNSAFE(buf, n, c);
        out.append(buf, n);
    }
}

}  // namespace

bool is_white_space_slow(char32_t c) { return u_isUWhiteSpace(static_cast<UChar32>(c)) != 0; }

bool is_alphanumeric_slow(char32_t c) {
    const auto u = static_cast<UChar32>(c);
    if (u_isUAlphabetic(u)) return true;
    const std::int8_t category = u_charType(u);
    return category == U_DECIMAL_DIGIT_NUMBER || category == U_LETTER_NUMBER || category == U_OTHER_NUMBER;
}

std::size_t skip_white_space(std::string_view s, std::size_t pos) {
    while (pos < s.size()) {
        const unsigned char b = static_cast<unsigned char>(s[pos]);
        if (b < 0x80) {
            if (!is_ascii_white_space(b)) break;
            ++pos;
            continue;
        }
        std::size_t next = pos;
        if (!is_white_space_slow(utf8::decode(s, next))) break;
        pos = next;
    }
    return pos;
}

std::size_t skip_word(std::string_view s, std::size_t pos) {
    while (pos < s.size()) {
        const unsigned char b = static_cast<unsigned char>(s[pos]);
        if (b < 0x80) {
            if (is_ascii_white_space(b)) break;
            ++pos;
            continue;
        }
        std::size_t next = pos;
        if (is_white_space_slow(utf8::decode(s, next))) break;
        pos = next;
    }
    return pos;
}

std::string_view trim_start(std::string_view s) { return s.substr(skip_white_space(s, 0)); }

std::string_view trim_end(std::string_view s) {
    std::size_t end = s.size();
    while (end > 0) {
        const unsigned char b = static_cast<unsigned char>(s[end - 1]);
        if (b < 0x80) {
            if (!is_ascii_white_space(b)) break;
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

std::vector<std::string_view> split_words(std::string_view s) {
    std::vector<std::string_view> words;
    for_each_word(s, [&](std::string_view w) { words.push_back(w); });
    return words;
}

std::string_view last_word(std::string_view s) {
    std::size_t start = s.size();
    while (start > 0) {
        const unsigned char b = static_cast<unsigned char>(s[start - 1]);
        if (b < 0x80) {
            if (is_ascii_white_space(b)) break;
            --start;
            continue;
        }
        std::size_t prev = start;
        if (is_white_space_slow(utf8::decode_before(s, prev))) break;
        start = prev;
    }
    return s.substr(start);
}

void to_lower_into(std::string_view s, std::string& out) {
    out.clear();
    if (utf8::is_ascii(s)) return ascii_to_lower(s, out);
    const UCaseMap* map = root_case_map();
    if (map == nullptr) return simple_to_lower(s, out);
    // ICU takes 32-bit lengths. A longer text goes in slices cut just after white space, which is
    // never part of a final-sigma context, so the slices map exactly as the whole would.
    while (!s.empty()) {
        std::size_t take = s.size();
        if (take > kMaxIcuSlice) {
            take = kMaxIcuSlice;
            while (take > 1 && !is_ascii_white_space(static_cast<unsigned char>(s[take - 1]))) --take;
            if (take <= 1) take = utf8::floor_boundary(s, kMaxIcuSlice);
        }
        if (!icu_lower_append(map, s.substr(0, take), out)) return simple_to_lower(s, out);
        s.remove_prefix(take);
    }
}

std::string to_lower(std::string_view s) {
    std::string out;
    to_lower_into(s, out);
    return out;
}

}  // namespace slivr::text
