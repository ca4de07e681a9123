#include "text/search.hpp"

#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace slivr::text {
namespace {

constexpr std::size_t npos = std::string_view::npos;

#if defined(__SSE2__)
// The comparison kernels: bit i of the result is set when position i of a 64-byte block holds a
// candidate. Each comes in an SSE2 form (every x86-64 processor) and an AVX2 form, picked once.

// h[i] == first (and, with `pair`, h[i + last_offset] == last).
template <bool pair>
std::uint64_t candidates_sse2(const char* h, std::size_t last_offset, char first, char last) {
    const __m128i f = _mm_set1_epi8(first);
    const __m128i l = _mm_set1_epi8(last);
    std::uint64_t mask = 0;
    for (int k = 0; k < 4; ++k) {
        __m128i eq = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 16 * k)), f);
        if constexpr (pair) {
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + last_offset + 16 * k));
            eq = _mm_and_si128(eq, _mm_cmpeq_epi8(b, l));
        }
        mask |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(eq))) << (16 * k);
    }
    return mask;
}

template <bool pair>
__attribute__((target("avx2"))) std::uint64_t candidates_avx2(const char* h, std::size_t last_offset, char first,
                                                              char last) {
    const __m256i f = _mm256_set1_epi8(first);
    const __m256i l = _mm256_set1_epi8(last);
    std::uint64_t mask = 0;
    for (int k = 0; k < 2; ++k) {
        __m256i eq = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + 32 * k)), f);
        if constexpr (pair) {
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + last_offset + 32 * k));
            eq = _mm256_and_si256(eq, _mm256_cmpeq_epi8(b, l));
        }
        mask |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm256_movemask_epi8(eq))) << (32 * k);
    }
    return mask;
}

// h[i] is one of the (up to four) bytes of `set`; shorter sets repeat their first byte.
std::uint64_t byte_set_sse2(const char* h, const char* set) {
    const __m128i s0 = _mm_set1_epi8(set[0]), s1 = _mm_set1_epi8(set[1]);
    const __m128i s2 = _mm_set1_epi8(set[2]), s3 = _mm_set1_epi8(set[3]);
    std::uint64_t mask = 0;
    for (int k = 0; k < 4; ++k) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 16 * k));
        const __m128i eq = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(a, s0), _mm_cmpeq_epi8(a, s1)),
                                        _mm_or_si128(_mm_cmpeq_epi8(a, s2), _mm_cmpeq_epi8(a, s3)));
        mask |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(eq))) << (16 * k);
    }
    return mask;
}

__attribute__((target("avx2"))) std::uint64_t byte_set_avx2(const char* h, const char* set) {
    const __m256i s0 = _mm256_set1_epi8(set[0]), s1 = _mm256_set1_epi8(set[1]);
    const __m256i s2 = _mm256_set1_epi8(set[2]), s3 = _mm256_set1_epi8(set[3]);
    std::uint64_t mask = 0;
    for (int k = 0; k < 2; ++k) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h + 32 * k));
        const __m256i eq = _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(a, s0), _mm256_cmpeq_epi8(a, s1)),
                                           _mm256_or_si256(_mm256_cmpeq_epi8(a, s2), _mm256_cmpeq_epi8(a, s3)));
        mask |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm256_movemask_epi8(eq))) << (32 * k);
    }
    return mask;
}

struct Kernels {
    std::uint64_t (*single)(const char*, std::size_t, char, char);
    std::uint64_t (*pair)(const char*, std::size_t, char, char);
    std::uint64_t (*byte_set)(const char*, const char*);
};

const Kernels& kernels() {
    static const Kernels k = __builtin_cpu_supports("avx2")
                                 ? Kernels{candidates_avx2<false>, candidates_avx2<true>, byte_set_avx2}
                                 : Kernels{candidates_sse2<false>, candidates_sse2<true>, byte_set_sse2};
    return k;
}
#endif

}  // namespace

bool MatchCursor::matches_at(std::size_t at) const {
    return std::memcmp(text_.data() + at, needle_.data(), needle_.size()) == 0;
}

bool MatchCursor::load_block(std::size_t at) {
#if defined(__SSE2__)
    const std::size_t m = needle_.size();
    if (m <= kMaxBlockNeedle && at <= text_.size() && text_.size() - at >= kBlock + m - 1) {
        block_ = at;
        const auto kernel = m == 1 ? kernels().single : kernels().pair;
        mask_ = kernel(text_.data() + at, m - 1, needle_.front(), needle_.back());
        return true;
    }
#endif
    (void)at;
    block_ = kNoBlock;
    return false;
}

std::size_t MatchCursor::find_scalar(std::size_t from) const {
    const std::size_t m = needle_.size();
    const std::size_t n = text_.size();
    if (from > n || n - from < m) return npos;
    if (m > kMaxBlockNeedle) {
        const void* hit = memmem(text_.data() + from, n - from, needle_.data(), m);
        return hit == nullptr ? npos : static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data());
    }
    const std::size_t last_start = n - m;
    for (std::size_t i = from; i <= last_start; ++i) {
        const void* hit = std::memchr(text_.data() + i, needle_.front(), last_start + 1 - i);
        if (hit == nullptr) return npos;
        i = static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data());
        if (matches_at(i)) return i;
    }
    return npos;
}

std::size_t MatchCursor::find(std::size_t from) {
    if (block_ != kNoBlock && from >= block_ && from - block_ < kBlock) {
        mask_ &= ~std::uint64_t{0} << (from - block_);
    } else if (!load_block(from)) {
        return find_scalar(from);
    }
    const bool check_middle = needle_.size() > 2;
    while (true) {
        while (mask_ != 0) {
            const std::size_t at = block_ + static_cast<std::size_t>(__builtin_ctzll(mask_));
            if (!check_middle || matches_at(at)) return at;
            mask_ &= mask_ - 1;
        }
        const std::size_t next = block_ + kBlock;
        if (!load_block(next)) return find_scalar(next);
    }
}

bool ByteSetCursor::load_block(std::size_t at) {
#if defined(__SSE2__)
    if (at <= text_.size() && text_.size() - at >= kBlock) {
        block_ = at;
        char set[4];
        for (std::size_t j = 0; j < 4; ++j) set[j] = bytes_[j < bytes_.size() ? j : 0];
        mask_ = kernels().byte_set(text_.data() + at, set);
        return true;
    }
#endif
    (void)at;
    block_ = kNoBlock;
    return false;
}

std::size_t ByteSetCursor::find(std::size_t from) {
    if (block_ != kNoBlock && from >= block_ && from - block_ < kBlock) {
        mask_ &= ~std::uint64_t{0} << (from - block_);
    } else if (!load_block(from)) {
        for (std::size_t i = from; i < text_.size(); ++i) {
            if (bytes_.find(text_[i]) != std::string_view::npos) return i;
        }
        return npos;
    }
    while (mask_ == 0) {
        const std::size_t next = block_ + kBlock;
        if (!load_block(next)) return find(next);  // the tail, byte by byte
    }
    return block_ + static_cast<std::size_t>(__builtin_ctzll(mask_));
}

}  // namespace slivr::text
