// Pre-tokenisation: the split of a text into pieces that the published encodings merge separately.
// Each split is a hand-written scanner equivalent to the encoding's regular expression.
#pragma once

#include <cstddef>
#include <string_view>

#include "tokenizer/char_class.hpp"

namespace slivr::tokenizer {

enum class SplitPattern {
    // 's|'t|... | ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+$|\s+(?!\S)|\s   (r50k_base, p50k_base)
    r50k,
    // the same with case-insensitive contractions, one optional non-letter before letters, digits
    // in threes and line breaks kept with punctuation   (cl100k_base)
    cl100k,
    // letter runs split at case changes, contractions attached, digits in threes   (o200k_base)
    o200k,
};

// The end of the piece that starts at `pos` (< text.size()). Every character belongs to some
// piece, so consecutive calls from 0 cover the whole text.
std::size_t piece_end(SplitPattern pattern, const CharClasses& classes, std::string_view text, std::size_t pos);

}  // namespace slivr::tokenizer
