#include "chunker/token.hpp"

#include <algorithm>
#include <bit>
#include <span>
#include <vector>

#include "chunker/window.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace slivr {
namespace {

std::string normalize_name(std::string_view name) {
    std::string out = text::to_lower(name);
    std::replace(out.begin(), out.end(), '-', '_');
    return out;
}

struct NamedEncoding {
    std::string_view name;  // already in normalised form
    TokenEncoding encoding;
};

constexpr NamedEncoding kNames[] = {
    {"cl100k_base", TokenEncoding::cl100k_base}, {"cl100k", TokenEncoding::cl100k_base},
    {"gpt_4", TokenEncoding::cl100k_base},       {"gpt_3.5_turbo", TokenEncoding::cl100k_base},
    {"o200k_base", TokenEncoding::o200k_base},   {"o200k", TokenEncoding::o200k_base},
    {"gpt_4o", TokenEncoding::o200k_base},       {"p50k_base", TokenEncoding::p50k_base},
    {"p50k", TokenEncoding::p50k_base},          {"r50k_base", TokenEncoding::r50k_base},
    {"r50k", TokenEncoding::r50k_base},
};

Document make_chunk(std::string_view content, std::size_t tokens, std::size_t index, TokenEncoding encoding) {
    Document doc{std::string(content)};
    Metadata& m = doc.metadata;
    m.reserve(4);
    m.insert_new("token_count", Json(static_cast<std::uint64_t>(tokens)));
    m.insert_new("length", Json(static_cast<std::uint64_t>(content.size())));
    m.insert_new("chunk_index", Json(static_cast<std::uint64_t>(index)));
    m.insert_new("encoding", Json(std::string(tokenizer::canonical_name(encoding))));
    return doc;
}

// Byte offsets of token boundaries from the tokens' sizes, for indexes that never decrease.
class OffsetCursor {
public:
    explicit OffsetCursor(std::span<const std::uint16_t> sizes) : sizes_(sizes) {}

    std::size_t at(std::size_t index) {
        for (; index_ < index; ++index_) offset_ += sizes_[index_];
        return offset_;
    }

private:
    std::span<const std::uint16_t> sizes_;
    std::size_t index_ = 0;
    std::size_t offset_ = 0;
};

// The token boundaries 0..n at which the text can be cut without splitting a character (the
// bytes of the tokens before the cut form whole characters), one bit each.
class Boundaries {
public:
    // Empty (`all()` true) when every boundary qualifies, as in any ASCII text.
    Boundaries(std::string_view text, std::span<const std::uint16_t> sizes) {
        if (utf8::is_ascii(text)) return;
        const std::size_t n = sizes.size();
        std::size_t offset = 0;
        bool any_inside = false;
        std::vector<std::uint64_t> bits(n / 64 + 1);
        for (std::size_t i = 0; i <= n; ++i) {
            if (i > 0) offset += sizes[i - 1];
            if (offset < text.size() && utf8::is_continuation(static_cast<unsigned char>(text[offset]))) {
                any_inside = true;
            } else {
                bits[i / 64] |= std::uint64_t{1} << (i % 64);
            }
        }
        if (any_inside) bits_ = std::move(bits);
    }

    bool all() const { return bits_.empty(); }

    // The last allowed boundary at or below `i`; 0 is always allowed.
    std::size_t at_or_below(std::size_t i) const {
        std::size_t word = i / 64;
        std::uint64_t w = bits_[word] & (~std::uint64_t{0} >> (63 - i % 64));
        while (w == 0) w = bits_[--word];
        return word * 64 + 63 - static_cast<std::size_t>(std::countl_zero(w));
    }
    // The first allowed boundary above `i` (< n); n is always allowed.
    std::size_t above(std::size_t i) const {
        std::size_t word = (i + 1) / 64;
        std::uint64_t w = bits_[word] & (~std::uint64_t{0} << ((i + 1) % 64));
        while (w == 0) w = bits_[++word];
        return word * 64 + static_cast<std::size_t>(std::countr_zero(w));
    }

private:
    std::vector<std::uint64_t> bits_;
};

// The window rule over tokens when some token boundaries fall inside a character. A window ends
// at the last allowed boundary within `size` tokens of its start (or the first one after the
// start, when none is), and the next starts at the last allowed boundary within `step` tokens
// after the start (or the first one after the start). With every boundary allowed these are
// exactly the windows of for_each_window; in any case consecutive windows leave no token out.
template <typename Visit>
void for_each_aligned_window(const Boundaries& allowed, std::size_t n, std::uint64_t size, std::uint64_t overlap,
                             Visit&& visit) {
    const std::uint64_t step = size - overlap;
    auto last_within = [&](std::size_t start, std::uint64_t reach) {
        const std::size_t limit = reach >= n - start ? n : start + static_cast<std::size_t>(reach);
        const std::size_t at = allowed.at_or_below(limit);
        return at > start ? at : allowed.above(start);
    };
    for (std::size_t start = 0;;) {
        const std::size_t end = last_within(start, size);
        visit(start, end);
        if (end == n) break;
        start = last_within(start, step);
    }
}

}  // namespace

std::expected<TokenEncoding, std::string> token_encoding_from_name(std::string_view name) {
    const std::string normalized = normalize_name(name);
    for (const NamedEncoding& entry : kNames) {
        if (entry.name == normalized) return entry.encoding;
    }
    return std::unexpected("Unsupported encoding: " + normalized);
}

Result<TokenChunker> TokenChunker::with_encoding(std::uint64_t chunk_size, std::uint64_t overlap,
                                                 TokenEncoding encoding) {
    if (chunk_size == 0) return fail(SlivrError::invalid_chunk_size(0));
    if (overlap >= chunk_size) return fail(SlivrError::invalid_chunk_overlap(chunk_size, overlap));
    auto tokenizer = tokenizer::BpeTokenizer::shared(encoding);
    if (!tokenizer) return fail(std::move(tokenizer.error()));
    return TokenChunker(chunk_size, overlap, std::move(*tokenizer));
}

Result<Documents> TokenChunker::chunk(std::string_view text) const {
    if (text::is_blank(text)) return fail(SlivrError::empty_input());
    const std::vector<std::uint16_t> sizes = tokenizer_->token_sizes(text);
    const std::size_t n = sizes.size();
    if (n == 0) return fail(SlivrError::empty_input());

    Documents out;
    out.reserve(static_cast<std::size_t>(n / (chunk_size - overlap)) + 1);
    // Cuts fall between characters, so each window's text is a slice of the input: the same bytes
    // that decoding its tokens gives, without rebuilding them.
    OffsetCursor from(sizes);
    OffsetCursor to(sizes);
    auto emit = [&](std::size_t start, std::size_t end) {
        const std::size_t first = from.at(start);
        const std::string_view content = text::trim(text.substr(first, to.at(end) - first));
        if (content.empty()) return;
        out.push_back(make_chunk(content, end - start, out.size(), encoding));
    };
    const Boundaries allowed(text, sizes);
    if (allowed.all()) {
        for_each_window(n, chunk_size, overlap, emit);
    } else {
        for_each_aligned_window(allowed, n, chunk_size, overlap, emit);
    }
    return out;
}

}  // namespace slivr
