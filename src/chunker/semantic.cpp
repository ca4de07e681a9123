// Compiled with -ffp-contract=off: a fused multiply-add would round differently from the separate
// multiply and add that the results are defined by.
#include "chunker/semantic.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "chunker/sentence.hpp"
#include "text/join.hpp"
#include "text/unicode.hpp"

namespace slivr {
namespace {

// h = h * 33 + byte for every byte, modulo 2^64. Eight steps at a time fold into
// h * 33^8 + (a polynomial of the eight bytes), which shortens the dependency chain through h.
std::uint64_t djb2(std::string_view word) {
    constexpr std::uint64_t k33pow8 = 1406408618241ULL;
    const auto* p = reinterpret_cast<const unsigned char*>(word.data());
    std::size_t n = word.size();
    std::uint64_t h = 5381;
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t block = 0;
        for (int i = 0; i < 8; ++i) block = block * 33 + p[i];
        h = h * k33pow8 + block;
    }
    for (; n > 0; ++p, --n) h = h * 33 + *p;
    return h;
}

// Scales `v` to unit length. `nonzero` lists the components that are not 0: the others add +0 to
// the sum of squares and stay 0 when divided, so only these need visiting, in index order.
void normalize(Embedding& v, std::vector<std::size_t>& nonzero) {
    std::sort(nonzero.begin(), nonzero.end());
    float sum = 0.0f;
    for (const std::size_t i : nonzero) sum += v[i] * v[i];
    if (!(sum > 0.0f)) return;
    const float norm = std::sqrt(sum);
    for (const std::size_t i : nonzero) v[i] /= norm;
}

// Rounds `r` to the nearest index, halves away from zero; negative and NaN values give 0.
std::size_t round_index(float r, std::size_t limit) {
    if (!(r > 0.0f)) return 0;
    const float rounded = std::round(r);
    if (rounded >= 18446744073709551616.0f) return limit;
    return std::min(static_cast<std::size_t>(rounded), limit);
}

std::vector<float> sorted_copy(std::span<const float> values) {
    std::vector<float> sorted(values.begin(), values.end());
    // Values that do not compare (NaN) count as equal to everything.
    std::stable_sort(sorted.begin(), sorted.end(), [](float a, float b) { return a < b; });
    return sorted;
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

Result<std::vector<Embedding>> FastLexicalEmbedder::embed(std::span<const std::string_view> texts) const {
    std::vector<Embedding> out;
    out.reserve(texts.size());
    std::string lower;
    std::vector<std::size_t> nonzero;
    // A power-of-two dimension (the usual case) takes the remainder with a mask instead of a division.
    const bool power_of_two = (dimension & (dimension - 1)) == 0;
    for (const std::string_view t : texts) {
        Embedding v(dimension, 0.0f);
        nonzero.clear();
        // The words of the lower-cased text are the lower-cased words (white space is unchanged by
        // lower-casing and ends every final-sigma context), so one case mapping serves the text.
        text::to_lower_into(t, lower);
        text::for_each_word(lower, [&](std::string_view word) {
            const std::uint64_t h = djb2(word);
            const std::size_t i = static_cast<std::size_t>(power_of_two ? h & (dimension - 1) : h % dimension);
            if (v[i] == 0.0f) nonzero.push_back(i);
            v[i] += 1.0f;
        });
        normalize(v, nonzero);
        out.push_back(std::move(v));
    }
    return out;
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
            const std::vector<float> sorted = sorted_copy(distances);
            const float r = (static_cast<float>(n) - 1.0f) * (p / 100.0f);
            return sorted[round_index(r, n - 1)];
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
            const std::vector<float> sorted = sorted_copy(distances);
            const float q1 = sorted[n / 4];
            const float q3 = sorted[n - (n + 3) / 4];  // floor(3n / 4) without overflow
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

    auto vectors = embedder->embed(sentences);
    if (!vectors) return fail(std::move(vectors.error()));
    if (vectors->size() != sentences.size()) {
        return fail(SlivrError::generic("embedder returned " + std::to_string(vectors->size()) + " vectors for " +
                                        std::to_string(sentences.size()) + " texts"));
    }
    std::vector<float> distances(sentences.size() - 1);
    for (std::size_t i = 0; i + 1 < vectors->size(); ++i) {
        distances[i] = cosine_distance((*vectors)[i], (*vectors)[i + 1]);
    }
    vectors->clear();
    vectors->shrink_to_fit();
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
