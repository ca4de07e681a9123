// The window rule shared by every chunker that cuts a list of units (characters, words,
// sentences, paragraphs, tokens, propositions).
#pragma once

#include <cstddef>
#include <cstdint>

namespace slivr {

// Calls `visit(start, end)` for the windows over `n` units: [start, min(start + size, n)) for
// start = 0, size - overlap, 2 (size - overlap), ..., stopping after the first window that reaches n.
// Requires size > overlap. No window is produced when n is 0.
template <typename Visit>
void for_each_window(std::size_t n, std::uint64_t size, std::uint64_t overlap, Visit&& visit) {
    const std::uint64_t step = size - overlap;
    for (std::size_t start = 0; start < n; start += step) {
        const bool last = n - start <= size;
        visit(start, last ? n : start + static_cast<std::size_t>(size));
        if (last) break;
    }
}

}  // namespace slivr
