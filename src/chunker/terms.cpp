#include "chunker/terms.hpp"

#include <unicode/uchar.h>

#include <algorithm>

#include "text/utf8.hpp"

namespace slivr::terms {
namespace {

// `word` without the characters at either end that fail `keep`. ASCII characters (a byte below
// 0x80 is a whole character) are tested without decoding.
template <typename Keep>
std::string_view strip(std::string_view word, Keep keep) {
    std::size_t start = 0;
    while (start < word.size()) {
        const auto b = static_cast<unsigned char>(word[start]);
        if (b < 0x80) {
            if (keep(char32_t{b})) break;
            ++start;
            continue;
        }
        std::size_t next = start;
        if (keep(utf8::decode(word, next))) break;
        start = next;
    }
    std::size_t end = word.size();
    while (end > start) {
        const auto b = static_cast<unsigned char>(word[end - 1]);
        if (b < 0x80) {
            if (keep(char32_t{b})) break;
            --end;
            continue;
        }
        std::size_t prev = end;
        if (keep(utf8::decode_before(word, prev))) break;
        end = prev;
    }
    return word.substr(start, end - start);
}

constexpr std::size_t kInitialSlots = 64;

}  // namespace

bool is_alphabetic_slow(char32_t c) { return u_isUAlphabetic(static_cast<UChar32>(c)) != 0; }

std::string_view strip_non_alphanumeric_slow(std::string_view word) {
    return strip(word, [](char32_t c) { return text::is_alphanumeric(c); });
}

std::string_view strip_non_alphabetic(std::string_view word) {
    return strip(word, [](char32_t c) { return is_alphabetic(c); });
}

std::size_t TermSet::add(std::string_view word, std::uint64_t hash, std::size_t slot) {
    slots_[slot] = entries_.size();
    entries_.push_back({bytes_.size(), word.size(), slot, hash});
    bytes_.append(word);
    lengths_ |= length_bit(word.size());
    return entries_.size() - 1;
}

void TermSet::grow() {
    slots_.assign(std::max(kInitialSlots, 2 * slots_.size()), kEmpty);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t e = 0; e < entries_.size(); ++e) {
        std::size_t i = entries_[e].hash & mask;
        while (slots_[i] != kEmpty) i = (i + 1) & mask;
        slots_[i] = e;
        entries_[e].slot = i;
    }
}

void TermSet::clear() {
    for (const Entry& e : entries_) slots_[e.slot] = kEmpty;
    entries_.clear();
    bytes_.clear();
    lengths_ = 0;
}

}  // namespace slivr::terms
