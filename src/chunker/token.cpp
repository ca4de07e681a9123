#include "chunker/token.hpp"

#include <unicode/ucasemap.h>

#include <algorithm>
#include <span>
#include <vector>

#include "chunker/window.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace slivr {
namespace {

// Full Unicode lower-casing (root locale, so final sigma and one-to-many mappings apply).
std::string to_lower(std::string_view s) {
    UErrorCode status = U_ZERO_ERROR;
    UCaseMap* map = ucasemap_open("", 0, &status);
    std::string out(s.size() + 16, '\0');
    int32_t size = 0;
    if (U_SUCCESS(status)) {
        size = ucasemap_utf8ToLower(map, out.data(), static_cast<int32_t>(out.size()), s.data(),
                                    static_cast<int32_t>(s.size()), &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            status = U_ZERO_ERROR;
            out.resize(static_cast<std::size_t>(size));
            size = ucasemap_utf8ToLower(map, out.data(), size, s.data(), static_cast<int32_t>(s.size()), &status);
        }
    }
    ucasemap_close(map);
    if (U_FAILURE(status)) {
        out.assign(s);
        for (char& c : out) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
        return out;
    }
    out.resize(static_cast<std::size_t>(size));
    return out;
}

std::string normalize_name(std::string_view name) {
    std::string out = to_lower(name);
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

// Token indexes 0..n at which the text can be cut without splitting a character: the bytes of
// the tokens before the cut form whole characters. Empty when every index qualifies.
std::vector<std::size_t> character_boundaries(std::string_view text, const std::vector<std::size_t>& ends) {
    std::vector<std::size_t> out;
    if (utf8::is_ascii(text)) return out;
    const std::size_t n = ends.size();
    auto cuts_character = [&](std::size_t i) {
        return ends[i - 1] < text.size() && utf8::is_continuation(static_cast<unsigned char>(text[ends[i - 1]]));
    };
    std::size_t first_bad = 1;
    while (first_bad < n && !cuts_character(first_bad)) ++first_bad;
    if (first_bad >= n) return out;
    out.reserve(n + 1);
    for (std::size_t i = 0; i < first_bad; ++i) out.push_back(i);
    for (std::size_t i = first_bad; i < n; ++i) {
        if (!cuts_character(i)) out.push_back(i);
    }
    out.push_back(n);
    return out;
}

// The window rule over tokens when some token boundaries fall inside a character. A window ends
// at the last allowed boundary within `size` tokens of its start (or the first one after the
// start, when none is), and the next starts at the last allowed boundary within `step` tokens
// (or the first one after the start). With every boundary allowed these are exactly the windows
// of for_each_window; in any case consecutive windows leave no token out.
template <typename Visit>
void for_each_aligned_window(std::span<const std::size_t> allowed, std::uint64_t size, std::uint64_t overlap,
                             Visit&& visit) {
    const std::size_t n = allowed.back();
    const std::uint64_t step = size - overlap;
    // Index into `allowed` of the last boundary within `reach` tokens of allowed[from] that lies
    // after it, or else of the first boundary after it.
    auto last_within = [&](std::size_t from, std::uint64_t reach) {
        const std::size_t start = allowed[from];
        const std::size_t limit = reach >= n - start ? n : start + static_cast<std::size_t>(reach);
        const auto it = std::upper_bound(allowed.begin() + static_cast<std::ptrdiff_t>(from) + 1, allowed.end(), limit);
        const auto at = static_cast<std::size_t>(it - allowed.begin()) - 1;
        return at > from ? at : from + 1;
    };
    for (std::size_t from = 0;;) {
        const std::size_t to = last_within(from, size);
        visit(allowed[from], allowed[to]);
        if (allowed[to] == n) break;
        from = last_within(from, step);
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
    const std::vector<std::size_t> ends = tokenizer_->token_ends(text);
    const std::size_t n = ends.size();
    if (n == 0) return fail(SlivrError::empty_input());

    Documents out;
    out.reserve(static_cast<std::size_t>(n / (chunk_size - overlap)) + 1);
    // Cuts fall on character boundaries, so each window's text is a slice of the input: the same
    // bytes that decoding its tokens gives, without rebuilding them.
    auto emit = [&](std::size_t start, std::size_t end) {
        const std::size_t from = start == 0 ? 0 : ends[start - 1];
        const std::string_view content = text::trim(text.substr(from, ends[end - 1] - from));
        if (content.empty()) return;
        out.push_back(make_chunk(content, end - start, out.size(), encoding));
    };
    const std::vector<std::size_t> allowed = character_boundaries(text, ends);
    if (allowed.empty()) {
        for_each_window(n, chunk_size, overlap, emit);
    } else {
        for_each_aligned_window(allowed, chunk_size, overlap, emit);
    }
    return out;
}

}  // namespace slivr
