// Finding every occurrence of one separator in one text, left to right.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace slivr::text {

// The matches of `needle` in `haystack`, asked for in increasing order of position. Built once per
// text: needles of up to 64 bytes are found by comparing their first and last bytes at 64 positions
// at once and checking the middle only where both match; the comparison mask of the current block
// is kept, so dense matches (a blank between every word) cost a few instructions each. Longer
// needles go to memmem, which stays linear however repetitive the needle is.
class MatchCursor {
public:
    // `needle` must not be empty; both views must outlive the cursor.
    MatchCursor(std::string_view haystack, std::string_view needle) : text_(haystack), needle_(needle) {}

    // The position of the first match that starts at or after `from`, or npos. Successive calls
    // must not decrease `from`.
    std::size_t find(std::size_t from);

    std::size_t needle_size() const { return needle_.size(); }

private:
    static constexpr std::size_t kBlock = 64;
    static constexpr std::size_t kMaxBlockNeedle = 64;
    static constexpr std::size_t kNoBlock = static_cast<std::size_t>(-1);

    bool load_block(std::size_t at);
    std::size_t find_scalar(std::size_t from) const;
    bool matches_at(std::size_t at) const;

    std::string_view text_;
    std::string_view needle_;
    std::size_t block_ = kNoBlock;  // start of the block `mask_` describes
    std::uint64_t mask_ = 0;        // bit i: a match may start at block_ + i
};

// The positions of the bytes of a small set (up to four bytes, say ".!?") in `text`, asked for in
// increasing order; 64 positions are tested at once, and the mask of the current block is kept.
class ByteSetCursor {
public:
    // `bytes` holds 1 to 4 bytes; both views must outlive the cursor.
    ByteSetCursor(std::string_view text, std::string_view bytes) : text_(text), bytes_(bytes) {}

    // The first position at or after `from` holding a byte of the set, or npos. Successive calls
    // must not decrease `from`.
    std::size_t find(std::size_t from);

private:
    static constexpr std::size_t kBlock = 64;
    static constexpr std::size_t kNoBlock = static_cast<std::size_t>(-1);

    bool load_block(std::size_t at);

    std::string_view text_;
    std::string_view bytes_;
    std::size_t block_ = kNoBlock;
    std::uint64_t mask_ = 0;
};

}  // namespace slivr::text
