// Compiled with -ffp-contract=off: a fused multiply-add would round differently from the separate
// multiply and add that the results are defined by.
#include "chunker/semantic.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <string>

#include "chunker/sentence.hpp"
#include "text/join.hpp"
#include "text/swar.hpp"
#include "text/unicode.hpp"

namespace slivr {
namespace {

constexpr std::array<std::uint64_t, 9> kPowersOf33 = {1ULL,       33ULL,         1089ULL,         35937ULL,
                                                      1185921ULL, 39135393ULL,   1291467969ULL,   42618442977ULL,
                                                      1406408618241ULL};

// The eight bytes of `x` as base-33 digits, the lowest byte the most significant: the sum of
// byte k times 33^(7 - k). Neighbouring digits are combined in 16-bit lanes, then in 32-bit lanes;
// no lane overflows (255 * 34 < 2^16, 8670 * 1090 < 2^32).
std::uint64_t base33_digits(std::uint64_t x) {
    constexpr std::uint64_t kEvenBytes = 0x00FF00FF00FF00FFULL;
    constexpr std::uint64_t kEvenPairs = 0x0000FFFF0000FFFFULL;
    const std::uint64_t pairs = (x & kEvenBytes) * 33 + ((x >> 8) & kEvenBytes);
    const std::uint64_t quads = (pairs & kEvenPairs) * 1089 + ((pairs >> 16) & kEvenPairs);
    return (quads & 0xFFFFFFFFULL) * 1185921 + (quads >> 32);
}

// h = h * 33 + byte for every byte of `word`, from 5381, modulo 2^64. k bytes at a time fold into
// h * 33^k + (the bytes as base-33 digits). A last run of fewer than eight bytes is read as the
// eight bytes ending with it, the ones before it cleared, when `readable_before` (bytes before
// the word that belong to the same buffer) allows; this avoids a copy.
std::uint64_t djb2(std::string_view word, std::size_t readable_before) {
    const char* p = word.data();
    std::size_t n = word.size();
    std::uint64_t h = 5381;
    const bool long_word = n >= 8;
    for (; n >= 8; p += 8, n -= 8) h = h * kPowersOf33[8] + base33_digits(swar::load(p));
    if (n == 0) return h;
    std::uint64_t last;
    if (long_word || readable_before >= 8 - n) {
        last = swar::load(p + n - 8) & (~std::uint64_t{0} << (8 * (8 - n)));
    } else {
        last = swar::load_partial(p, n) << (8 * (8 - n));
    }
    return h * kPowersOf33[n] + base33_digits(last);
}

// The vector of one text: `values` holds every component, `nonzero` the indices of those that are
// not 0 in increasing order. Components outside `nonzero` stay 0, so a vector is cleared, scaled
// and compared in time proportional to its words rather than to the dimension.
struct SparseVector {
    // Up to this dimension the indices are also marked in a bitmap, which lists them in order
    // without sorting.
    static constexpr std::size_t kBitmapLimit = 4096;

    explicit SparseVector(std::size_t dimension)
        : values(dimension, 0.0f), occupied(dimension <= kBitmapLimit ? (dimension + 63) / 64 : 0) {}

    void clear() {
        for (const std::uint32_t i : nonzero) values[i] = 0.0f;
        nonzero.clear();
    }

    std::vector<float> values;
    std::vector<std::uint32_t> nonzero;
    std::vector<std::uint64_t> occupied;  // empty above kBitmapLimit; all zero between texts
};

// Scales `v` to unit length. The components left out add +0 to the sum of squares and stay 0 when
// divided, so only the non-zero ones are visited, in index order.
void normalize(SparseVector& v) {
    float sum = 0.0f;
    for (const std::uint32_t i : v.nonzero) sum += v.values[i] * v.values[i];
    if (!(sum > 0.0f)) return;
    const float norm = std::sqrt(sum);
    for (const std::uint32_t i : v.nonzero) v.values[i] /= norm;
}

// The text's bag-of-words vector into `v`, which must be clear.
void embed_into(std::string_view text, std::size_t dimension, std::string& lower, SparseVector& v) {
    // A power-of-two dimension (the usual case) takes the remainder with a mask instead of a division.
    const bool power_of_two = (dimension & (dimension - 1)) == 0;
    const bool bitmap = !v.occupied.empty();
    // The words of the lower-cased text are the lower-cased words (white space is unchanged by
    // lower-casing and ends every final-sigma context), so one case mapping serves the text.
    text::to_lower_into(text, lower);
    text::for_each_word(lower, [&](std::string_view word) {
        const std::uint64_t h = djb2(word, static_cast<std::size_t>(word.data() - lower.data()));
        const auto i = static_cast<std::uint32_t>(power_of_two ? h & (dimension - 1) : h % dimension);
        if (v.values[i] == 0.0f) {
            if (bitmap) {
                v.occupied[i >> 6] |= std::uint64_t{1} << (i & 63);
            } else {
                v.nonzero.push_back(i);
            }
        }
        v.values[i] += 1.0f;
    });
    if (bitmap) {
        for (std::size_t w = 0; w < v.occupied.size(); ++w) {
            for (std::uint64_t bits = v.occupied[w]; bits != 0; bits &= bits - 1) {
                v.nonzero.push_back(static_cast<std::uint32_t>(64 * w + static_cast<std::size_t>(std::countr_zero(bits))));
            }
            v.occupied[w] = 0;
        }
    } else {
        std::sort(v.nonzero.begin(), v.nonzero.end());
    }
    normalize(v);
}

// cosine_distance of two vectors of the same dimension. A product is non-zero only where both
// components are, so the products worth adding are those at b's non-zero indices, in index order.
float sparse_distance(const SparseVector& a, const SparseVector& b) {
    float dot = 0.0f;
    for (const std::uint32_t i : b.nonzero) {
        const float product = a.values[i] * b.values[i];
        if (product != 0.0f) dot += product;
    }
    const float distance = 1.0f - dot;
    return distance >= 0.0f ? distance : 0.0f;
}

// Rounds `r` to the nearest index, halves away from zero; negative and NaN values give 0.
std::size_t round_index(float r, std::size_t limit) {
    if (!(r > 0.0f)) return 0;
    const float rounded = std::round(r);
    if (rounded >= 18446744073709551616.0f) return limit;
    return std::min(static_cast<std::size_t>(rounded), limit);
}

// The k-th smallest of `values` (k < size), as a stable sort would place it. Values that do not
// compare (NaN) count as equal to everything, and -0 equals +0 while printing differently, so
// either makes the stable order matter; otherwise equal values are identical and a selection
// gives the same value in linear time.
float kth_smallest(std::span<const float> values, std::size_t k) {
    std::vector<float> copy(values.begin(), values.end());
    const bool plain =
        std::none_of(copy.begin(), copy.end(), [](float v) { return std::isnan(v) || (v == 0.0f && std::signbit(v)); });
    if (plain) {
        std::nth_element(copy.begin(), copy.begin() + static_cast<std::ptrdiff_t>(k), copy.end());
    } else {
        std::stable_sort(copy.begin(), copy.end(), [](float a, float b) { return a < b; });
    }
    return copy[k];
}

// Lanes of four floats (GCC vector extension): the products of a block are formed and tested
// four at a time.
using Lanes = float __attribute__((vector_size(16)));
using LaneMask = std::int32_t __attribute__((vector_size(16)));
constexpr std::size_t kLanes = 4;
constexpr std::size_t kBlock = 16;

// True when some product a[i] * b[i] of the block (kBlock entries) is not ±0 (NaN included).
bool any_nonzero_product(const float* a, const float* b) {
    LaneMask any = {0, 0, 0, 0};
    for (std::size_t i = 0; i < kBlock; i += kLanes) {
        Lanes x, y;
        std::memcpy(&x, a + i, sizeof x);
        std::memcpy(&y, b + i, sizeof y);
        any |= (x * y != 0.0f);
    }
    return (any[0] | any[1] | any[2] | any[3]) != 0;
}

Json threshold_json(float cutoff) {
    if (!std::isfinite(cutoff)) return Json(nullptr);
    return Json(static_cast<double>(cutoff));
}

Document make_chunk(std::string content, std::size_t sentence_count, std::size_t index, float cutoff) {
    Document doc{std::move(content)};
    Metadata& m = doc.metadata;
    m.reserve(4);
    m.insert_new("length", Json(static_cast<std::uint64_t>(doc.content.size())));
    m.insert_new("sentence_count", Json(static_cast<std::uint64_t>(sentence_count)));
    m.insert_new("chunk_index", Json(static_cast<std::uint64_t>(index)));
    m.insert_new("cutoff_threshold", threshold_json(cutoff));
    return doc;
}

}  // namespace

Result<std::vector<float>> Embedder::neighbour_distances(std::span<const std::string_view> texts) const {
    auto vectors = embed(texts);
    if (!vectors) return fail(std::move(vectors.error()));
    if (vectors->size() != texts.size()) {
        return fail(SlivrError::generic("embedder returned " + std::to_string(vectors->size()) + " vectors for " +
                                        std::to_string(texts.size()) + " texts"));
    }
    std::vector<float> distances(texts.size() > 0 ? texts.size() - 1 : 0);
    for (std::size_t i = 0; i < distances.size(); ++i) distances[i] = cosine_distance((*vectors)[i], (*vectors)[i + 1]);
    return distances;
}

Result<std::vector<Embedding>> FastLexicalEmbedder::embed(std::span<const std::string_view> texts) const {
    std::vector<Embedding> out;
    out.reserve(texts.size());
    std::string lower;
    SparseVector v(dimension);
    for (const std::string_view t : texts) {
        embed_into(t, dimension, lower, v);
        out.push_back(v.values);
        v.clear();
    }
    return out;
}

Result<std::vector<float>> FastLexicalEmbedder::neighbour_distances(std::span<const std::string_view> texts) const {
    std::vector<float> distances;
    if (texts.empty()) return distances;
    distances.reserve(texts.size() - 1);
    std::string lower;
    SparseVector previous(dimension);
    SparseVector current(dimension);
    embed_into(texts[0], dimension, lower, previous);
    for (const std::string_view t : texts.subspan(1)) {
        embed_into(t, dimension, lower, current);
        distances.push_back(sparse_distance(previous, current));
        std::swap(previous, current);
        current.clear();
    }
    return distances;
}

float cosine_distance(std::span<const float> a, std::span<const float> b) {
    const std::size_t n = std::min(a.size(), b.size());
    // The sum starts at +0 and can never become -0, so adding a zero product (of either sign)
    // never changes it: skipping zero products keeps the exact in-order result and makes sparse
    // vectors cheap. Whole blocks are tested at once (independent lanes, so the test vectorises);
    // the sum itself stays in index order.
    const std::size_t blocked = n - n % kBlock;
    float dot = 0.0f;
    const auto add_nonzero = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            const float product = a[i] * b[i];
            if (product != 0.0f) dot += product;
        }
    };
    for (std::size_t start = 0; start < blocked; start += kBlock) {
        if (any_nonzero_product(a.data() + start, b.data() + start)) add_nonzero(start, start + kBlock);
    }
    add_nonzero(blocked, n);
    const float distance = 1.0f - dot;
    return distance >= 0.0f ? distance : 0.0f;
}

float SemanticChunker::compute_cutoff_threshold(std::span<const float> distances) const {
    if (distances.empty()) return 0.5f;
    const std::size_t n = distances.size();
    const float p = threshold.parameter;
    switch (threshold.kind) {
        case Threshold::Kind::Percentile: {
            const float r = (static_cast<float>(n) - 1.0f) * (p / 100.0f);
            return kth_smallest(distances, round_index(r, n - 1));
        }
        case Threshold::Kind::StandardDeviation: {
            const float count = static_cast<float>(n);
            float sum = 0.0f;
            for (const float d : distances) sum += d;
            const float mean = sum / count;
            float squares = 0.0f;
            for (const float d : distances) {
                const float deviation = d - mean;
                squares += deviation * deviation;
            }
            return mean + p * std::sqrt(squares / count);
        }
        case Threshold::Kind::Interquartile: {
            const float q1 = kth_smallest(distances, n / 4);
            const float q3 = kth_smallest(distances, n - (n + 3) / 4);  // floor(3n / 4) without overflow
            return q3 + 1.5f * (q3 - q1);
        }
        case Threshold::Kind::Absolute:
            return p;
    }
    return p;
}

Result<Documents> SemanticChunker::chunk(std::string_view text) const {
    if (text::is_blank(text)) return fail(SlivrError::empty_input());
    const std::vector<std::string_view> sentences = split_sentences(text);
    if (sentences.size() < 2) {
        // "length" describes the content, which is trimmed.
        const std::string_view content = text::trim(text);
        Document doc{std::string(content)};
        doc.metadata.reserve(2);
        doc.metadata.insert_new("length", Json(static_cast<std::uint64_t>(content.size())));
        doc.metadata.insert_new("chunk_index", Json(std::uint64_t{0}));
        return Documents{std::move(doc)};
    }

    auto found = embedder->neighbour_distances(sentences);
    if (!found) return fail(std::move(found.error()));
    const std::vector<float>& distances = *found;
    if (distances.size() + 1 != sentences.size()) {
        return fail(SlivrError::generic("embedder returned " + std::to_string(distances.size()) + " distances for " +
                                        std::to_string(sentences.size()) + " texts"));
    }
    const float cutoff = compute_cutoff_threshold(distances);

    Documents out;
    std::size_t group_start = 0;
    std::size_t size = 0;
    for (std::size_t j = 0; j < sentences.size(); ++j) {
        size += sentences[j].size() + 1;
        const bool last = j + 1 == sentences.size();
        if (!last && !(size >= min_size && distances[j] > cutoff) && size < max_size) continue;
        const auto group = std::span(sentences).subspan(group_start, j + 1 - group_start);
        std::string content = text::join(group, " ");
        const std::string_view trimmed = text::trim(content);
        if (trimmed.size() != content.size()) content = std::string(trimmed);
        if (!content.empty()) out.push_back(make_chunk(std::move(content), group.size(), out.size(), cutoff));
        group_start = j + 1;
        size = 0;
    }
    return out;
}

}  // namespace slivr
