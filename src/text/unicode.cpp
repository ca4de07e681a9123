#include "text/unicode.hpp"

#include <unicode/ucasemap.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>

#include "text/swar.hpp"
#include "text/utf8.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The full lower-case mapping of every character of the Basic Multilingual Plane but two is its
// simple mapping: U+0130 maps to two characters and U+03A3 to a medial or final sigma by context.
// The simple mappings are read from ICU 256 characters (a page) at a time, when a text first needs
// them, so that a process pays only for the scripts it meets. Pages are published with atomics
// (two threads may build the same page; one copy wins) and live as long as the process, since
// worker threads may still read them while it exits.
class BmpLowerTable {
public:
    // Marks the two characters that only a whole-text mapping can handle.
    static constexpr char32_t kNeedsContext = 0xFFFFFFFF;

    // The two-byte characters (Latin, Greek, Cyrillic, ...) are common enough to keep their
    // mappings in one array from the start.
    BmpLowerTable() {
        for (char32_t c = 0x80; c < 0x800; ++c) {
            const char32_t lower = map(c);
            char* out = &two_byte_[2 * (c - 0x80)];
            if (lower >= 0x80 && lower < 0x800) {
                out[0] = static_cast<char>(0xC0 | (lower >> 6));
                out[1] = static_cast<char>(0x80 | (lower & 0x3F));
            } else {
                out[0] = out[1] = 0;
            }
        }
    }

    // The simple lower-case mapping of `c` (below 0x10000), or kNeedsContext.
    char32_t map(char32_t c) const {
        const char32_t* p = page(c >> 8);
        return p == identity() ? c : p[c & 0xFF];
    }
    // The UTF-8 of the mapping of the two-byte character `c` (0x80 to 0x7FF) when it is a two-byte
    // character too (the usual case), else two zero bytes.
    const char* map_two_byte(char32_t c) const { return &two_byte_[2 * (c - 0x80)]; }

    // True when every character from U+3000 to U+9FFF (lead bytes 0xE3 to 0xE9: kana, CJK symbols
    // and ideographs) maps to itself, so that a block can pass over them in one test.
    bool cjk_unchanged() const {
        LeadState state = cjk_.load(std::memory_order_relaxed);
        if (state == LeadState::Unknown) {
            state = LeadState::Unchanged;
            for (unsigned lead = 0xE3; lead <= 0xE9; ++lead) {
                if (!unchanged_lead(static_cast<unsigned char>(lead))) state = LeadState::Changed;
            }
            cjk_.store(state, std::memory_order_relaxed);
        }
        return state == LeadState::Unchanged;
    }

    // True when every character starting with byte `lead` (0x80 or above) maps to itself, so that
    // it can be copied undecoded.
    bool unchanged_lead(unsigned char lead) const {
        LeadState state = leads_[lead].load(std::memory_order_relaxed);
        if (state == LeadState::Unknown) {
            state = lead_state(lead);
            leads_[lead].store(state, std::memory_order_relaxed);
        }
        return state == LeadState::Unchanged;
    }

private:
    enum class LeadState : std::uint8_t { Unknown, Unchanged, Changed };

    // Stands for a page that maps every character to itself.
    static const char32_t* identity() {
        static const char32_t marker = 0;
        return &marker;
    }

    const char32_t* page(char32_t index) const {
        const char32_t* p = pages_[index].load(std::memory_order_acquire);
        return p != nullptr ? p : build(index);
    }

    const char32_t* build(char32_t index) const {
        auto table = std::make_unique<char32_t[]>(256);
        bool unchanged = true;
        for (char32_t k = 0; k < 256; ++k) {
            const char32_t c = index << 8 | k;
            table[k] = static_cast<char32_t>(u_tolower(static_cast<UChar32>(c)));
            unchanged = unchanged && table[k] == c;
        }
        for (const char32_t c : {U'\u0130', U'\u03A3'}) {
            if (c >> 8 == index) table[c & 0xFF] = kNeedsContext;
        }
        const char32_t* built = unchanged ? identity() : table.get();
        const char32_t* expected = nullptr;
        if (!pages_[index].compare_exchange_strong(expected, built, std::memory_order_acq_rel)) return expected;
        if (!unchanged) table.release();
        return built;
    }

    LeadState lead_state(unsigned char lead) const {
        if (lead < 0xC2 || lead >= 0xF0) return LeadState::Changed;  // continuation bytes; 4-byte leads
        if (lead >= 0xE0) {
            // The 4096 characters of a three-byte lead fill 16 whole pages.
            const char32_t first_page = (lead & 0x0Fu) << 4;
            for (char32_t p = first_page; p < first_page + 16; ++p) {
                if (page(p) != identity()) return LeadState::Changed;
            }
            return LeadState::Unchanged;
        }
        const char32_t first = (lead & 0x1Fu) << 6;
        for (char32_t c = first; c < first + 64; ++c) {
            if (map(c) != c) return LeadState::Changed;
        }
        return LeadState::Unchanged;
    }

    mutable std::array<std::atomic<const char32_t*>, 256> pages_{};
    mutable std::array<std::atomic<LeadState>, 256> leads_{};
    mutable std::atomic<LeadState> cjk_{LeadState::Unknown};
    std::array<char, 2 * (0x800 - 0x80)> two_byte_;
};

const BmpLowerTable& bmp_lower_table() {
    static const BmpLowerTable* const table = new BmpLowerTable;
    return *table;
}

inline char ascii_to_lower(unsigned char b) {
    return static_cast<char>(static_cast<unsigned>(b - 'A') < 26 ? b + ('a' - 'A') : b);
}

#if defined(__SSE2__)
// Lower-cases the 16 bytes at `src` into `dst` as far as they need no table: ASCII, continuation
// bytes, and characters whose lead byte maps every character to itself. Returns how many bytes
// are done: 16, or the offset of the first lead byte that needs the table. All 16 bytes are
// written; those past the returned count are overwritten later.
std::size_t lower_block(const BmpLowerTable& table, const char* src, char* dst) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    // 'A' to 'Z': v - 'A' is at most 25, unsigned.
    const __m128i t = _mm_sub_epi8(v, _mm_set1_epi8('A'));
    const __m128i upper = _mm_cmpeq_epi8(_mm_min_epu8(t, _mm_set1_epi8(25)), t);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_or_si128(v, _mm_and_si128(upper, _mm_set1_epi8(0x20))));
    // Lead bytes are 0xC0 and above; those of the CJK range are checked all at once.
    const __m128i c0 = _mm_set1_epi8(static_cast<char>(0xC0));
    auto leads = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(v, c0), v)));
    if (leads != 0 && table.cjk_unchanged()) {
        const __m128i u = _mm_sub_epi8(v, _mm_set1_epi8(static_cast<char>(0xE3)));
        leads &= ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(u, _mm_set1_epi8(6)), u)));
    }
    for (; leads != 0; leads &= leads - 1) {
        const auto k = static_cast<std::size_t>(std::countr_zero(leads));
        if (!table.unchanged_lead(static_cast<unsigned char>(src[k]))) return k;
    }
    return 16;
}
#endif

// Room for mapping `n` bytes: a character grows by half at most (two bytes to three), and a block
// may be written past the end of the mapping before being overwritten or cut off.
constexpr std::size_t lower_room(std::size_t n) { return n + n / 2 + 16; }

// Lower-cases `s` into `dst` (lower_room(s.size()) bytes), which holds the mapping of s[0, done)
// in its first `done` bytes; returns the length of the mapping. Returns npos when `s` holds a
// character whose mapping depends on its context (the whole text then goes to ICU), or should a
// mapping ever outgrow the room. Supplementary characters have no mapping longer than one
// character, so ICU's simple mapping serves them.
std::size_t lower_by_character(std::string_view s, std::size_t done, char* dst) {
    const BmpLowerTable& table = bmp_lower_table();
    const std::size_t n = s.size();
    const char* src = s.data();
    std::size_t i = done;
    std::size_t j = done;
#if defined(__SSE2__)
    // After a block stopped at a character that needs the table, the rest of that block goes
    // character by character: in text of such characters (Cyrillic, Greek) blocks rarely pass.
    std::size_t scalar_until = 0;
#endif
    while (i < n) {
#if defined(__SSE2__)
        if (n - i >= 16 && i >= scalar_until) {
            const std::size_t k = lower_block(table, src + i, dst + j);
            i += k;
            j += k;
            if (k == 16) continue;
            scalar_until = i - k + 16;
        }
#endif
        const unsigned char b = static_cast<unsigned char>(src[i]);
        if (b < 0xC0) {
            // ASCII, or a continuation byte left over by a block that ended inside a character
            // that maps to itself.
            dst[j++] = ascii_to_lower(b);
            ++i;
            continue;
        }
        if (b < 0xE0) {
            // Most two-byte characters (Latin, Greek, Cyrillic) map to two-byte characters.
            const char* lower =
                table.map_two_byte(char32_t(b & 0x1F) << 6 | (static_cast<unsigned char>(src[i + 1]) & 0x3F));
            if (lower[0] != 0) {
                std::memcpy(dst + j, lower, 2);
                i += 2;
                j += 2;
                continue;
            }
        } else if (table.unchanged_lead(b)) {
            const std::size_t len = utf8::sequence_length(b);
            if (n - i >= 4) {
                std::memcpy(dst + j, src + i, 4);
            } else {
                std::memcpy(dst + j, src + i, len);
            }
            i += len;
            j += len;
            continue;
        }
        const char32_t c = utf8::decode(s, i);
        const char32_t lower = c < 0x10000 ? table.map(c) : static_cast<char32_t>(u_tolower(static_cast<UChar32>(c)));
        if (lower == BmpLowerTable::kNeedsContext) return std::string_view::npos;
        if (lower_room(n) - j < lower_room(n - i) + utf8::kMaxSequence) return std::string_view::npos;
        j += utf8::encode(lower, dst + j);
    }
    return j;
}

// Lower-cases the ASCII prefix of `s` into `out` (sized to s.size()), eight bytes at a time while
// it can; returns the length of the prefix.
std::size_t ascii_prefix_to_lower(std::string_view s, char* out) {
    std::size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        const std::uint64_t x = swar::load(s.data() + i);
        if ((x & swar::kHigh) != 0) break;
        swar::store(out + i, swar::ascii_to_lower(x));
    }
    for (; i < s.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        if (b >= 0x80) break;
        out[i] = ascii_to_lower(b);
    }
    return i;
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

bool icu_is_alphanumeric(char32_t c) {
    const auto u = static_cast<UChar32>(c);
    if (u_isUAlphabetic(u)) return true;
    const std::int8_t category = u_charType(u);
    return category == U_DECIMAL_DIGIT_NUMBER || category == U_LETTER_NUMBER || category == U_OTHER_NUMBER;
}

// The alphanumeric test of the Basic Multilingual Plane as bits, 256 characters a page, read from
// ICU when a text first needs the page (published like BmpLowerTable's pages).
class BmpAlphanumericTable {
public:
    bool test(char32_t c) const {
        const std::uint64_t* bits = page(c >> 8);
        return (bits[(c & 0xFF) >> 6] >> (c & 63)) & 1;
    }

private:
    const std::uint64_t* page(char32_t index) const {
        const std::uint64_t* p = pages_[index].load(std::memory_order_acquire);
        return p != nullptr ? p : build(index);
    }

    const std::uint64_t* build(char32_t index) const {
        auto bits = std::make_unique<std::uint64_t[]>(4);
        for (char32_t k = 0; k < 256; ++k) {
            if (icu_is_alphanumeric(index << 8 | k)) bits[k >> 6] |= std::uint64_t{1} << (k & 63);
        }
        const std::uint64_t* expected = nullptr;
        if (!pages_[index].compare_exchange_strong(expected, bits.get(), std::memory_order_acq_rel)) return expected;
        return bits.release();
    }

    mutable std::array<std::atomic<const std::uint64_t*>, 256> pages_{};
};

const BmpAlphanumericTable& bmp_alphanumeric_table() {
    static const BmpAlphanumericTable* const table = new BmpAlphanumericTable;
    return *table;
}

}  // namespace

bool is_alphanumeric_slow(char32_t c) {
    if (c < 0x10000) return bmp_alphanumeric_table().test(c);
    return icu_is_alphanumeric(c);
}

namespace detail {

BlockClasses classify_block_portable(const char* p) {
    BlockClasses c{};
    for (std::size_t i = 0; i < 64; ++i) {
        const auto b = static_cast<unsigned char>(p[i]);
        const std::uint64_t bit = std::uint64_t{1} << i;
        if (is_ascii_white_space(b)) c.ascii_space |= bit;
        if (b >= 0x80) c.high |= bit;
        if (b == 0xC2 || b == 0xE1) c.c2_or_e1 |= bit;
        if (b == 0xE2) c.e2 |= bit;
        if (b == 0xE3) c.e3 |= bit;
        if (b == 0x80) c.x80 |= bit;
        if (b == 0x81) c.x81 |= bit;
    }
    return c;
}

#if defined(__SSE2__)
BlockClasses classify_block(const char* p) {
    const auto bits = [](__m128i v, int k) {
        return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(v))) << (16 * k);
    };
    const auto same = [](__m128i v, int b) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(b))); };
    BlockClasses c{};
    for (int k = 0; k < 4; ++k) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
        // TAB to CR: v - 9 is at most 4, unsigned.
        const __m128i t = _mm_sub_epi8(v, _mm_set1_epi8(9));
        const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(t, _mm_set1_epi8(4)), t);
        c.ascii_space |= bits(_mm_or_si128(same(v, ' '), control), k);
        c.high |= bits(v, k);
    }
    if (c.high == 0) return c;
    for (int k = 0; k < 4; ++k) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
        c.c2_or_e1 |= bits(_mm_or_si128(same(v, 0xC2), same(v, 0xE1)), k);
        c.e2 |= bits(same(v, 0xE2), k);
        c.e3 |= bits(same(v, 0xE3), k);
        c.x80 |= bits(same(v, 0x80), k);
        c.x81 |= bits(same(v, 0x81), k);
    }
    return c;
}
#else
BlockClasses classify_block(const char* p) { return classify_block_portable(p); }
#endif

std::uint64_t SpaceMask::other_space(std::size_t base, const BlockClasses& c) {
    // Byte i + 1 (i + 2) of a class moved to bit i; bytes in the next block count as matching.
    constexpr std::uint64_t kLast = std::uint64_t{1} << 63;
    constexpr std::uint64_t kLastTwo = std::uint64_t{3} << 62;
    const std::uint64_t then_80_or_81 = ((c.x80 | c.x81) >> 1) | kLast;
    const std::uint64_t then_80_80 = ((c.x80 >> 1) | kLast) & ((c.x80 >> 2) | kLastTwo);
    std::uint64_t leads = c.c2_or_e1 | (c.e2 & then_80_or_81) | (c.e3 & then_80_80);
    std::uint64_t space = 0;
    for (; leads != 0; leads &= leads - 1) {
        const auto i = static_cast<std::size_t>(std::countr_zero(leads));
        std::size_t next = base + i;
        if (!is_white_space_slow(utf8::decode(s_, next))) continue;
        for (std::size_t k = i; k < next - base; ++k) {
            if (k < 64) {
                space |= std::uint64_t{1} << k;
            } else {
                carry_ |= std::uint64_t{1} << (k - 64);
            }
        }
    }
    return space;
}

}  // namespace detail

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
    bool mapped = true;
    // Every byte of the result is written before it is read, so the buffer is not cleared first.
    out.resize_and_overwrite(lower_room(s.size()), [&](char* dst, std::size_t) {
        const std::size_t done = ascii_prefix_to_lower(s, dst);
        if (done == s.size()) return done;
        const std::size_t length = lower_by_character(s, done, dst);
        mapped = length != std::string_view::npos;
        return mapped ? length : 0;
    });
    if (mapped) return;
    out.clear();
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
