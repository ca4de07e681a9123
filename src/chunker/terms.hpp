// Words as the analytic chunkers compare them: lower-cased and stripped of the punctuation around
// them. Shared by the query-aware, proposition and agentic chunkers.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>

#include "text/unicode.hpp"

namespace slivr::terms {

// The Unicode Alphabetic property (digits are not alphabetic).
bool is_alphabetic_slow(char32_t c);
inline bool is_alphabetic(char32_t c) {
    if (c < 0x80) return (c | 0x20) - U'a' < 26;
    return is_alphabetic_slow(c);
}

// `word` without the characters at either end that are not alphanumeric.
std::string_view strip_non_alphanumeric(std::string_view word);
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

// Hashing and comparison that accept any string-like key, so that a set of std::string can be
// searched with a view without building a string.
struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};
using StringSet = std::unordered_set<std::string, StringHash, std::equal_to<>>;

}  // namespace slivr::terms

