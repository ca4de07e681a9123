// The semantic chunker's native interfaces: the threshold kinds, the cut-off computation, the
// embedder and the distance, and embedders other than the built-in one.
// Compiled with -ffp-contract=off, like the code under test, so the expected values below are
// computed with the same separate multiplies and adds.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "chunker/semantic.hpp"

using namespace slivr;

namespace {

float cutoff(Threshold threshold, std::vector<float> distances) {
    const SemanticChunker chunker(threshold, std::make_shared<const FastLexicalEmbedder>(), 0, 1000);
    return chunker.compute_cutoff_threshold(distances);
}

// 0.0, 0.1, ..., in shuffled order, so that the result shows the sorting.
std::vector<float> tenths(std::size_t n) {
    std::vector<float> v;
    for (std::size_t i = 0; i < n; ++i) v.push_back(static_cast<float>(i) / 10.0f);
    std::mt19937 rng(7);
    std::shuffle(v.begin(), v.end(), rng);
    return v;
}

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

// An embedder that fails, or returns a fixed list whatever it is given.
class FixedEmbedder final : public Embedder {
public:
    explicit FixedEmbedder(Result<std::vector<Embedding>> result) : result_(std::move(result)) {}
    Result<std::vector<Embedding>> embed(std::span<const std::string_view>) const override { return result_; }

private:
    Result<std::vector<Embedding>> result_;
};

std::vector<Embedding> embed(const FastLexicalEmbedder& e, std::vector<std::string_view> texts) {
    auto r = e.embed(texts);
    EXPECT_TRUE(r.has_value());
    return r ? *r : std::vector<Embedding>{};
}

std::uint64_t djb2(std::string_view s) {
    std::uint64_t h = 5381;
    for (unsigned char c : s) h = h * 33 + c;
    return h;
}

}  // namespace

TEST(SemanticCutoff, PercentileIndexIsRoundedHalfAwayFromZeroAndCapped) {
    struct Case {
        float p;
        std::size_t n;
        float expected;
    };
    const Case cases[] = {
        {90.0f, 1, 0.0f},  {90.0f, 2, 0.1f},  {90.0f, 6, 0.5f},   // 4.5 rounds up to 5 = n - 1
        {90.0f, 10, 0.8f},                                        // 9 * 0.9 = 8.1 -> 8
        {50.0f, 4, 0.2f},                                         // 1.5 -> 2
        {50.0f, 2, 0.1f},                                         // 0.5 -> 1
        {100.0f, 7, 0.6f}, {250.0f, 7, 0.6f}, {1e30f, 7, 0.6f},   // capped at n - 1
        {0.0f, 7, 0.0f},   {-40.0f, 7, 0.0f}, {kNaN, 7, 0.0f},  {-kInf, 7, 0.0f}, {kInf, 7, 0.6f},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cutoff(Threshold::percentile(c.p), tenths(c.n)), c.expected) << "p=" << c.p << " n=" << c.n;
    }
}

TEST(SemanticCutoff, OtherKinds) {
    const std::vector<float> d = {0.2f, 0.4f, 0.4f, 0.8f};
    // Sums in 32-bit floats, in list order; population variance.
    float sum = 0.0f;
    for (float x : d) sum += x;
    const float mean = sum / 4.0f;
    float squares = 0.0f;
    for (float x : d) squares += (x - mean) * (x - mean);
    EXPECT_EQ(cutoff(Threshold::standard_deviation(2.0f), d), mean + 2.0f * std::sqrt(squares / 4.0f));
    EXPECT_EQ(cutoff(Threshold::standard_deviation(0.0f), d), mean);

    // q1 at floor(n / 4), q3 at floor(3n / 4) of the sorted copy.
    EXPECT_EQ(cutoff(Threshold::interquartile(), {0.8f, 0.2f, 0.4f, 0.4f}), 0.8f + 1.5f * (0.8f - 0.4f));
    EXPECT_EQ(cutoff(Threshold::interquartile(), {0.3f}), 0.3f);
    EXPECT_EQ(cutoff(Threshold::interquartile(), {0.1f, 0.5f, 0.3f}), 0.5f + 1.5f * (0.5f - 0.1f));

    EXPECT_EQ(cutoff(Threshold::absolute(0.25f), d), 0.25f);
    EXPECT_EQ(cutoff(Threshold::absolute(-3.0f), d), -3.0f);
}

TEST(SemanticCutoff, PercentilesAreThoseOfTheStablySortedList) {
    // Lists with repeats, and lists where the stable order shows: NaN (equal to everything) and
    // -0 beside +0 (equal, but printed differently). Every rank is checked against a stable sort.
    std::mt19937 rng(17);
    const float pool[] = {0.1f, 0.2f, 0.2f, 0.7f, 1.0f, 0.0f, -0.0f, kNaN, kInf};
    for (int round = 0; round < 300; ++round) {
        std::vector<float> d(1 + rng() % 12);
        const std::size_t kinds = round % 3 == 0 ? 5 : std::size(pool);  // a third without NaN or -0
        for (float& x : d) x = pool[rng() % kinds];
        std::vector<float> sorted = d;
        std::stable_sort(sorted.begin(), sorted.end(), [](float a, float b) { return a < b; });
        for (std::size_t k = 0; k < d.size(); ++k) {
            const float p = d.size() == 1 ? 0.0f : 100.0f * static_cast<float>(k) / static_cast<float>(d.size() - 1);
            const float got = cutoff(Threshold::percentile(p), d);
            const float r = (static_cast<float>(d.size()) - 1.0f) * (p / 100.0f);
            const float want = sorted[static_cast<std::size_t>(std::round(r))];
            EXPECT_EQ(std::bit_cast<std::uint32_t>(got), std::bit_cast<std::uint32_t>(want)) << round << " k=" << k;
        }
        const std::size_t n = d.size();
        const float q1 = sorted[n / 4];
        const float q3 = sorted[n - (n + 3) / 4];
        const float iqr = cutoff(Threshold::interquartile(), d);
        const float want_iqr = q3 + 1.5f * (q3 - q1);
        EXPECT_TRUE(std::bit_cast<std::uint32_t>(iqr) == std::bit_cast<std::uint32_t>(want_iqr) ||
                    (std::isnan(iqr) && std::isnan(want_iqr)))
            << round;
    }
}

TEST(SemanticCutoff, EmptyListGivesOneHalfForEveryKind) {
    for (const Threshold t : {Threshold::percentile(90.0f), Threshold::standard_deviation(1.0f),
                              Threshold::interquartile(), Threshold::absolute(0.9f)}) {
        EXPECT_EQ(cutoff(t, {}), 0.5f);
    }
}

TEST(LexicalEmbedder, WordsLandInTheirDjb2BucketAndVectorsHaveUnitLength) {
    const FastLexicalEmbedder e(256);
    const auto v = embed(e, {"Apple apple APPLE banana", "", "  \n "});
    ASSERT_EQ(v.size(), 3u);
    ASSERT_EQ(v[0].size(), 256u);
    // Case folds, so "apple" counts 3 and "banana" 1: the vector is (3, 1) / sqrt(10).
    const float norm = std::sqrt(10.0f);
    EXPECT_EQ(v[0][djb2("apple") % 256], 3.0f / norm);
    EXPECT_EQ(v[0][djb2("banana") % 256], 1.0f / norm);
    int nonzero = 0;
    for (float x : v[0]) nonzero += x != 0.0f;
    EXPECT_EQ(nonzero, 2);
    // Texts without words keep the zero vector.
    EXPECT_EQ(v[1], Embedding(256, 0.0f));
    EXPECT_EQ(v[2], Embedding(256, 0.0f));
}

TEST(LexicalEmbedder, PunctuationStaysInTheWordAndTheFullLowerCaseMappingIsUsed) {
    const FastLexicalEmbedder e(1 << 16);
    const std::string_view final_sigma = "\u03bf\u03b4\u03bf\u03c2";  // οδος ending in ς
    const std::string_view medial_sigma = "\u03bf\u03b4\u03bf\u03c3";  // the same ending in σ
    const auto v = embed(e, {"word,", "word", "\u039f\u0394\u039f\u03a3", final_sigma, medial_sigma});
    EXPECT_NE(v[0], v[1]);
    // The capital sigma at the end of the word becomes a final sigma.
    EXPECT_EQ(v[2][djb2(final_sigma) % (1 << 16)], 1.0f);
    EXPECT_EQ(v[2], v[3]);
    EXPECT_NE(v[2], v[4]);
}

TEST(LexicalEmbedder, WordHashMatchesTheByteByByteFormAtEveryLengthAndPosition) {
    // A prime dimension keeps most of the 64-bit hash in the bucket. Words of every length up to
    // 40 bytes, first in their text (nothing before them) and after a prefix of each length.
    constexpr std::size_t kPrime = 1000003;
    const FastLexicalEmbedder e(kPrime);
    std::mt19937 rng(9);
    const std::string letters = "abcdefghijklmnopqrstuvwxyz0123456789,.;-";
    for (std::size_t length = 1; length <= 40; ++length) {
        std::string word;
        while (word.size() < length) word += letters[rng() % letters.size()];
        for (std::size_t prefix = 0; prefix <= 9; ++prefix) {
            const std::string text = std::string(prefix, 'q') + (prefix > 0 ? " " : "") + word;
            const auto v = embed(e, {text});
            EXPECT_GT(v[0][djb2(word) % kPrime], 0.0f) << word << " after " << prefix;
        }
    }
}

TEST(LexicalEmbedder, DimensionZeroIsTakenAsOne) {
    const FastLexicalEmbedder e(0);
    EXPECT_EQ(e.dimension, 1u);
    EXPECT_EQ(embed(e, {"a b c"})[0], Embedding{1.0f});
}

TEST(CosineDistance, SkippingZeroProductsKeepsTheInOrderSum) {
    // Sparse and dense vectors with zeros of both signs, negative values and the odd infinity: the
    // result must equal the plain in-order sum bit for bit.
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    std::uniform_int_distribution<int> pick(0, 9);
    for (int round = 0; round < 2000; ++round) {
        const std::size_t na = 1 + rng() % 40, nb = 1 + rng() % 40;
        std::vector<float> a(na), b(nb);
        for (auto* v : {&a, &b}) {
            for (float& x : *v) {
                const int k = pick(rng);
                x = k < 6 ? 0.0f : k == 6 ? -0.0f : value(rng);
                if (round % 97 == 0 && k == 9) x = kInf;
            }
        }
        float dot = 0.0f;
        for (std::size_t i = 0; i < std::min(na, nb); ++i) dot += a[i] * b[i];
        float expected = 1.0f - dot;
        if (!(expected >= 0.0f)) expected = 0.0f;
        const float got = cosine_distance(a, b);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(got), std::bit_cast<std::uint32_t>(expected)) << "round " << round;
    }
}

TEST(CosineDistance, ClampsNegativeAndNaNToZero) {
    EXPECT_EQ(cosine_distance(std::vector<float>{2.0f}, std::vector<float>{1.0f}), 0.0f);
    EXPECT_EQ(cosine_distance(std::vector<float>{kNaN}, std::vector<float>{1.0f}), 0.0f);
    EXPECT_EQ(cosine_distance(std::vector<float>{1.0f, 0.0f}, std::vector<float>{0.0f, 1.0f}), 1.0f);
    // Only the common length counts.
    EXPECT_EQ(cosine_distance(std::vector<float>{1.0f}, std::vector<float>{1.0f, 5.0f}), 0.0f);
}

TEST(SemanticChunker, AbsoluteThresholdCutsWhereTheDistanceExceedsIt) {
    // Sentences 1-2 share their words, sentence 3 shares none.
    const std::string text = "red fox runs. red fox runs fast. blue whale swims.";
    const auto e = std::make_shared<const FastLexicalEmbedder>();
    const SemanticChunker cut(Threshold::absolute(0.5f), e, 0, 1000);
    const auto chunks = cut.chunk(text);
    ASSERT_TRUE(chunks.has_value());
    ASSERT_EQ(chunks->size(), 2u);
    EXPECT_EQ((*chunks)[0].content, "red fox runs. red fox runs fast.");
    EXPECT_EQ((*chunks)[1].content, "blue whale swims.");
    EXPECT_EQ(*(*chunks)[0].metadata.find("cutoff_threshold"), Json(0.5));

    // A threshold of 1 or more is never exceeded (distances lie in [0, 1]).
    const SemanticChunker never(Threshold::absolute(1.0f), e, 0, 1000);
    EXPECT_EQ(never.chunk(text)->size(), 1u);
    // A non-finite cut-off is reported as null.
    const SemanticChunker infinite(Threshold::absolute(kInf), e, 0, 1000);
    EXPECT_TRUE(infinite.chunk(text)->front().metadata.find("cutoff_threshold")->is_null());
}

TEST(SemanticChunker, EmbedderErrorsAndMiscountsAreReported) {
    const std::string text = "One. Two. Three.";
    const SemanticChunker failing(Threshold::percentile(90.0f),
                                  std::make_shared<const FixedEmbedder>(fail(SlivrError::generic("no model"))), 0, 9);
    EXPECT_EQ(failing.chunk(text).error().message(), "Generic error: no model");

    const SemanticChunker short_list(Threshold::percentile(90.0f),
                                     std::make_shared<const FixedEmbedder>(std::vector<Embedding>{{1.0f}}), 0, 9);
    EXPECT_EQ(short_list.chunk(text).error().message(), "Generic error: embedder returned 1 vectors for 3 texts");

    // Fewer than two sentences never reach the embedder.
    EXPECT_EQ(failing.chunk("  Only one sentence.  ")->front().content, "Only one sentence.");
}

TEST(SemanticChunker, VectorsOfDifferentLengthsCompareOverTheCommonPart) {
    const std::vector<Embedding> vectors = {{1.0f, 0.0f}, {1.0f}, {0.0f, 1.0f, 1.0f}};
    const SemanticChunker c(Threshold::absolute(0.5f), std::make_shared<const FixedEmbedder>(vectors), 0, 1000);
    const auto chunks = c.chunk("A. B. C.");
    ASSERT_EQ(chunks->size(), 2u);
    EXPECT_EQ((*chunks)[0].content, "A. B.");
    EXPECT_EQ((*chunks)[1].content, "C.");
}
