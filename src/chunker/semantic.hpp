// Cuts between neighbouring sentences whose lexical vectors are far apart. All vector arithmetic is
// in 32-bit floats, in a fixed order and without fused operations, so that results are the same on
// every machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "chunker/base.hpp"

namespace slivr {

using Embedding = std::vector<float>;

// Turns texts into vectors, one per text, in order. Implementations are immutable and callable
// from several threads at once.
class Embedder {
public:
    virtual ~Embedder() = default;
    virtual Result<std::vector<Embedding>> embed(std::span<const std::string_view> texts) const = 0;

    // The cosine_distance of each text's vector to the next text's, one fewer than the texts (none
    // for fewer than two). The default embeds all the texts and fails when the vectors do not
    // match the texts in number; an embedder may instead compute them one text at a time.
    virtual Result<std::vector<float>> neighbour_distances(std::span<const std::string_view> texts) const;
};

// A hashing bag of words: each lower-cased word (punctuation included) adds 1 to the component its
// djb2 hash selects, then the vector is scaled to unit length. Never fails.
class FastLexicalEmbedder final : public Embedder {
public:
    // A dimension of 0 is taken as 1.
    explicit FastLexicalEmbedder(std::size_t dimension = 256) : dimension(dimension > 0 ? dimension : 1) {}

    Result<std::vector<Embedding>> embed(std::span<const std::string_view> texts) const override;
    // Keeps two vectors at a time, visiting only their non-zero components.
    Result<std::vector<float>> neighbour_distances(std::span<const std::string_view> texts) const override;

    const std::size_t dimension;
};

// How the distances between neighbouring sentences become the cut-off above which a cut is made.
struct Threshold {
    enum class Kind : std::uint8_t {
        Percentile,         // the sorted distance at the rounded index (n - 1) * p / 100
        StandardDeviation,  // mean + p * standard deviation (population form)
        Interquartile,      // q3 + 1.5 * (q3 - q1)
        Absolute,           // p itself
    };

    static Threshold percentile(float p) { return {Kind::Percentile, p}; }
    static Threshold standard_deviation(float p) { return {Kind::StandardDeviation, p}; }
    static Threshold interquartile() { return {Kind::Interquartile, 0.0f}; }
    static Threshold absolute(float p) { return {Kind::Absolute, p}; }

    Kind kind;
    float parameter;
};

class SemanticChunker final : public Chunker {
public:
    // Sizes are bytes; nothing is validated (a min_size above max_size simply never cuts by
    // similarity before the size limit).
    SemanticChunker(Threshold threshold, std::shared_ptr<const Embedder> embedder, std::size_t min_size,
                    std::size_t max_size)
        : threshold(threshold), embedder(std::move(embedder)), min_size(min_size), max_size(max_size) {}

    Result<Documents> chunk(std::string_view text) const override;

    // The cut-off for a list of distances (0.5 for an empty list).
    float compute_cutoff_threshold(std::span<const float> distances) const;

    const Threshold threshold;
    const std::shared_ptr<const Embedder> embedder;
    const std::size_t min_size;
    const std::size_t max_size;
};

// 1 - the dot product of `a` and `b` over their common length, summed in index order; never below 0.
float cosine_distance(std::span<const float> a, std::span<const float> b);

}  // namespace slivr
