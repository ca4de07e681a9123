#include "text/search.hpp"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define SLIVR_X86 1
#endif

namespace slivr::text {
namespace detail {
namespace {

using Kind = BlockPattern::Kind;

// The kernels: bit i of the result is set when position i of the 64-byte block at `h` is a
// candidate. Each comes in a portable form, an SSE2 form and an AVX2 form; one is picked per
// process. The loads of a pair pattern reach last_offset bytes past the block.

template <Kind kind>
std::uint64_t candidates_portable(const char* h, const BlockPattern& p) {
    std::uint64_t mask = 0;
    for (std::size_t i = 0; i < 64; ++i) {
        bool hit = h[i] == p.bytes[0];
        if constexpr (kind == Kind::Pair) hit = hit && h[i + p.last_offset] == p.bytes[1];
        if constexpr (kind == Kind::Set) hit = hit || h[i] == p.bytes[1] || h[i] == p.bytes[2] || h[i] == p.bytes[3];
        mask |= static_cast<std::uint64_t>(hit) << i;
    }
    return mask;
}

#if SLIVR_X86
template <Kind kind>
std::uint64_t candidates_sse2(const char* h, const BlockPattern& p) {
    const __m128i b0 = _mm_set1_epi8(p.bytes[0]), b1 = _mm_set1_epi8(p.bytes[1]);
    const __m128i b2 = _mm_set1_epi8(p.bytes[2]), b3 = _mm_set1_epi8(p.bytes[3]);
    std::uint64_t mask = 0;
    for (int k = 0; k < 4; ++k) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 16 * k));
        __m128i eq = _mm_cmpeq_epi8(a, b0);
        if constexpr (kind == Kind::Pair) {
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + p.last_offset + 16 * k));
            eq = _mm_and_si128(eq, _mm_cmpeq_epi8(b, b1));
        }
        if constexpr (kind == Kind::Set) {
            eq = _mm_or_si128(_mm_or_si128(eq, _mm_cmpeq_epi8(a, b1)),
                              _mm_or_si128(_mm_cmpeq_epi8(a, b2), _mm_cmpeq_epi8(a, b3)));
        }
        mask |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(eq))) << (16 * k);
    }
    return mask;
}

template <Kind kind>
__attribute__((target("avx2"))) std::uint64_t candidates_avx2(const char* h, const BlockPattern& p) {
    const __m256i b0 = _mm256_set1_epi8(p.bytes[0]), b1 = _mm256_set1_epi8(p.bytes[1]);
    const __m256i b2 = _mm256_set1_epi8(p.bytes[2]), b3 = _mm256_set1_epi8(p.bytes[3]);
    std::uint64_t mask = 0;
    for (int k = 0; k < 2; ++k) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + 32 * k));
        __m256i eq = _mm256_cmpeq_epi8(a, b0);
        if constexpr (kind == Kind::Pair) {
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + p.last_offset + 32 * k));
            eq = _mm256_and_si256(eq, _mm256_cmpeq_epi8(b, b1));
        }
        if constexpr (kind == Kind::Set) {
            eq = _mm256_or_si256(_mm256_or_si256(eq, _mm256_cmpeq_epi8(a, b1)),
                                 _mm256_or_si256(_mm256_cmpeq_epi8(a, b2), _mm256_cmpeq_epi8(a, b3)));
        }
        mask |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm256_movemask_epi8(eq))) << (32 * k);
    }
    return mask;
}
#endif

// A kernel scans the blocks starting at `at`, `at` + 64, ... up to `last`, and returns the start of
// the first block with a candidate (its mask in `mask`), or npos.
using Kernel = std::size_t (*)(const char* data, std::size_t at, std::size_t last, const BlockPattern& p,
                               std::uint64_t& mask);

// The scanning loop is written out in each kernel so that the comparison inlines into it: a
// function compiled for AVX2 cannot be inlined into one that is not.
template <Kind kind>
std::size_t scan_portable(const char* data, std::size_t at, std::size_t last, const BlockPattern& p,
                          std::uint64_t& mask) {
    for (; at <= last; at += 64) {
        if ((mask = candidates_portable<kind>(data + at, p)) != 0) return at;
    }
    return std::string_view::npos;
}

#if SLIVR_X86
template <Kind kind>
std::size_t scan_sse2(const char* data, std::size_t at, std::size_t last, const BlockPattern& p, std::uint64_t& mask) {
    for (; at <= last; at += 64) {
        if ((mask = candidates_sse2<kind>(data + at, p)) != 0) return at;
    }
    return std::string_view::npos;
}

template <Kind kind>
__attribute__((target("avx2"))) std::size_t scan_avx2(const char* data, std::size_t at, std::size_t last,
                                                      const BlockPattern& p, std::uint64_t& mask) {
    for (; at <= last; at += 64) {
        if ((mask = candidates_avx2<kind>(data + at, p)) != 0) return at;
    }
    return std::string_view::npos;
}
#endif

template <Kind kind>
Kernel kernel_for(Isa isa) {
#if SLIVR_X86
    if (isa == Isa::Avx2) return scan_avx2<kind>;
    if (isa == Isa::Sse2) return scan_sse2<kind>;
#endif
    (void)isa;
    return scan_portable<kind>;
}

Kernel kernel_for(Kind kind, Isa isa) {
    if (isa != best_isa() && !isa_supported(isa)) isa = best_isa();
    switch (kind) {
        case Kind::Single: return kernel_for<Kind::Single>(isa);
        case Kind::Pair: return kernel_for<Kind::Pair>(isa);
        case Kind::Set: break;
    }
    return kernel_for<Kind::Set>(isa);
}

}  // namespace

bool isa_supported(Isa isa) {
    switch (isa) {
        case Isa::Portable: return true;
#if SLIVR_X86
        case Isa::Sse2: return true;
        case Isa::Avx2:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2");
#else
        default: return false;
#endif
    }
    return false;
}

Isa best_isa() {
    static const Isa best = isa_supported(Isa::Avx2) ? Isa::Avx2 : isa_supported(Isa::Sse2) ? Isa::Sse2 : Isa::Portable;
    return best;
}

BlockCursor::BlockCursor(std::string_view text, const BlockPattern& pattern, std::size_t reach, Isa isa)
    : text_(text),
      pattern_(pattern),
      reach_(reach),
      last_block_(text.size() >= kBlock + reach - 1 ? text.size() - (kBlock + reach - 1) : kNoBlock),
      kernel_(kernel_for(pattern.kind, isa)) {}

std::size_t BlockCursor::start(std::size_t from) {
    if (block_ != kNoBlock && from >= block_ && from - block_ < kBlock) {
        mask_ &= ~std::uint64_t{0} << (from - block_);
        return block_ + kBlock;
    }
    block_ = kNoBlock;
    mask_ = 0;
    return from;
}

bool BlockCursor::scan(std::size_t& from) {
    if (last_block_ == kNoBlock || from > last_block_) return false;
    const std::size_t at = kernel_(text_.data(), from, last_block_, pattern_, mask_);
    if (at == std::string_view::npos) {
        // Every whole block from `from` on is clear; only the tail after them is left.
        from += ((last_block_ - from) / kBlock + 1) * kBlock;
        return false;
    }
    block_ = at;
    return true;
}

bool BlockCursor::is_candidate(std::size_t at) const {
    const char c = text_[at];
    switch (pattern_.kind) {
        case BlockPattern::Kind::Single: return c == pattern_.bytes[0];
        case BlockPattern::Kind::Pair: return c == pattern_.bytes[0] && text_[at + pattern_.last_offset] == pattern_.bytes[1];
        case BlockPattern::Kind::Set: break;
    }
    return c == pattern_.bytes[0] || c == pattern_.bytes[1] || c == pattern_.bytes[2] || c == pattern_.bytes[3];
}

}  // namespace detail

namespace {

constexpr std::size_t kMaxBlockNeedle = 64;

// The pair filter tests the first byte and one later byte. Blanks and line feeds are everywhere
// in text, so the later byte is the last one that is neither (separators such as "\n    def "
// end in a blank, and filtering on that blank would make nearly every indented line a candidate).
std::size_t filter_offset(std::string_view needle) {
    for (std::size_t k = needle.size() - 1; k > 0; --k) {
        if (needle[k] != ' ' && needle[k] != '\n') return k;
    }
    return needle.size() - 1;
}

detail::BlockPattern needle_pattern(std::string_view needle) {
    if (needle.size() == 1) return {detail::BlockPattern::Kind::Single, 0, {needle[0], needle[0], needle[0], needle[0]}};
    const std::size_t k = filter_offset(needle);
    return {detail::BlockPattern::Kind::Pair, k, {needle.front(), needle[k], needle.front(), needle.front()}};
}

detail::BlockPattern set_pattern(std::string_view bytes) {
    detail::BlockPattern p{detail::BlockPattern::Kind::Set, 0, {}};
    for (std::size_t j = 0; j < 4; ++j) p.bytes[j] = bytes[j < bytes.size() ? j : 0];
    return p;
}

}  // namespace

MatchCursor::MatchCursor(std::string_view haystack, std::string_view needle, detail::Isa isa)
    : text_(haystack), needle_(needle), blocks_(haystack, needle_pattern(needle), needle.size(), isa) {}

std::size_t MatchCursor::find(std::size_t from) {
    const std::size_t m = needle_.size();
    if (from > text_.size() || text_.size() - from < m) return std::string_view::npos;
    if (m > kMaxBlockNeedle) {
        const void* hit = memmem(text_.data() + from, text_.size() - from, needle_.data(), m);
        return hit == nullptr ? std::string_view::npos
                              : static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data());
    }
    // The first byte and the filter byte already match at a candidate.
    if (m <= 2) return blocks_.next(from, [](std::size_t) { return true; });
    return blocks_.next(from, [&](std::size_t at) { return std::memcmp(text_.data() + at + 1, needle_.data() + 1, m - 1) == 0; });
}

ByteSetCursor::ByteSetCursor(std::string_view text, std::string_view bytes, detail::Isa isa)
    : blocks_(text, set_pattern(bytes), 1, isa) {}

}  // namespace slivr::text
