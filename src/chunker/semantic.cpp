// Compiled with -ffp-contract=off: a fused multiply-add would round differently from the separate
// multiply and add that the results are defined by.
#include "chunker/semantic.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "chunker/sentence.hpp"
#include "text/join.hpp"
#include "text/unicode.hpp"

namespace slivr {
namespace {

std::uint64_t djb2(std::string_view word) {
    std::uint64_t h = 5381;
    for (const char c : word) h = h * 33 + static_cast<unsigned char>(c);
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
    for (const std::string_view t : texts) {
        Embedding v(dimension, 0.0f);
        nonzero.clear();
        // The words of the lower-cased text are the lower-cased words (white space is unchanged by
        // lower-casing and ends every final-sigma context), so one case mapping serves the text.
        text::to_lower_into(t, lower);
        text::for_each_word(lower, [&](std::string_view word) {
            const std::size_t i = static_cast<std::size_t>(djb2(word) % dimension);
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
    // never changes it: skipping blocks whose products are all zero keeps the exact result and
    // makes sparse vectors cheap. The check runs over independent lanes; the sum stays in order.
    constexpr std::size_t kBlock = 8;
    float dot = 0.0f;
    for (std::size_t start = 0; start < n; start += kBlock) {
        const std::size_t end = std::min(start + kBlock, n);
        bool any = false;
        for (std::size_t i = start; i < end; ++i) any |= (a[i] * b[i] != 0.0f);
        if (!any) continue;
        for (std::size_t i = start; i < end; ++i) {
            const float product = a[i] * b[i];
            if (product != 0.0f) dot += product;
        }
    }
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
    for (std::size_t i = 0; i + 1 < vectors->size(); ++i) distances[i] = cosine_distance((*vectors)[i], (*vectors)[i + 1]);
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
