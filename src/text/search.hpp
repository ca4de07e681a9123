// Finding separators and special bytes in a text, left to right, 64 positions at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace slivr::text {

namespace detail {

// What a block scan compares: one byte, a byte at two offsets, or a set of up to four bytes.
struct BlockPattern {
    enum class Kind : std::uint8_t { Single, Pair, Set } kind;
    std::size_t last_offset;  // Pair: offset of the second compared byte
    char bytes[4];            // Single: [0]; Pair: first and last; Set: the set, padded with [0]
};

// The instruction sets the block scans can use. `best_isa` is the fastest this processor runs;
// the others are there so that tests can check every kernel against the rest.
enum class Isa : std::uint8_t { Portable, Sse2, Avx2 };
Isa best_isa();
bool isa_supported(Isa isa);

// Candidate positions of one text, block by block. `next` moves to the first candidate at or
// after `from` (increasing calls only); the mask of the current 64-byte block is kept, so that
// dense candidates cost a few instructions each.
class BlockCursor {
public:
    BlockCursor(std::string_view text, const BlockPattern& pattern, std::size_t reach, Isa isa);

    // Calls `accept(position)` on the candidates at or after `from` in order and returns the first
    // accepted one, or npos.
    template <typename Accept>
    std::size_t next(std::size_t from, Accept&& accept) {
        std::size_t scan_from = start(from);
        while (true) {
            while (mask_ != 0) {
                const std::size_t at = block_ + static_cast<std::size_t>(__builtin_ctzll(mask_));
                if (accept(at)) return at;
                mask_ &= mask_ - 1;
            }
            if (!scan(scan_from)) return scalar(scan_from, accept);
            scan_from = block_ + kBlock;
        }
    }

private:
    static constexpr std::size_t kBlock = 64;
    static constexpr std::size_t kNoBlock = static_cast<std::size_t>(-1);

    // Drops the candidates of the current block before `from`; returns where scanning resumes.
    std::size_t start(std::size_t from);
    // Loads the first block at or after `from` that has a candidate. Otherwise returns false with
    // `from` moved past the blocks found clear, to where the tail (too short for a block) starts.
    bool scan(std::size_t& from);
    bool is_candidate(std::size_t at) const;

    template <typename Accept>
    std::size_t scalar(std::size_t from, Accept& accept) {
        block_ = kNoBlock;
        mask_ = 0;
        for (std::size_t at = from; at + reach_ <= text_.size(); ++at) {
            if (is_candidate(at) && accept(at)) return at;
        }
        return std::string_view::npos;
    }

    std::string_view text_;
    BlockPattern pattern_;
    std::size_t reach_;       // bytes a candidate at `at` looks at: [at, at + reach_)
    std::size_t last_block_;  // last start of a whole block (kNoBlock when the text is too short)
    std::size_t block_ = kNoBlock;
    std::uint64_t mask_ = 0;
    std::size_t (*kernel_)(const char*, std::size_t, std::size_t, const BlockPattern&, std::uint64_t&);
};

}  // namespace detail

// The non-overlapping matches of `needle` in `haystack`, asked for left to right. Built once per
// text. Needles of up to 64 bytes are found by comparing their first and last bytes at 64
// positions at once and checking the middle only where both match; longer needles go to memmem,
// which stays linear however repetitive the needle is.
class MatchCursor {
public:
    // `needle` must not be empty; both views must outlive the cursor.
    MatchCursor(std::string_view haystack, std::string_view needle, detail::Isa isa = detail::best_isa());

    // The position of the first match that starts at or after `from`, or npos. Successive calls
    // must not decrease `from`.
    std::size_t find(std::size_t from);

    std::size_t needle_size() const { return needle_.size(); }

private:
    std::string_view text_;
    std::string_view needle_;
    detail::BlockCursor blocks_;
};

// The positions of the bytes of a small set (1 to 4 bytes, say ".!?") in a text, in order.
class ByteSetCursor {
public:
    // Both views must outlive the cursor.
    ByteSetCursor(std::string_view text, std::string_view bytes, detail::Isa isa = detail::best_isa());

    // The first position at or after `from` holding a byte of the set, or npos. Successive calls
    // must not decrease `from`.
    std::size_t find(std::size_t from) {
        return blocks_.next(from, [](std::size_t) { return true; });
    }

private:
    detail::BlockCursor blocks_;
};

}  // namespace slivr::text
