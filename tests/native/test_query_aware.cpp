// The query-aware chunker's native interfaces: sentence scoring against any term set, the query's
// terms, the adjusted window sizes and score rounding.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "chunker/query_aware.hpp"

using namespace slivr;

namespace {

QueryAwareChunker make(std::string query, double threshold = 0.1) {
    return QueryAwareChunker(std::move(query), 2, 1, 5, threshold);
}

terms::TermSet set(std::initializer_list<const char*> words) {
    terms::TermSet s;
    for (const char* w : words) s.insert(w);
    return s;
}

// The words of a set, sorted.
std::vector<std::string> sorted(const terms::TermSet& s) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < s.size(); ++i) out.emplace_back(s[i]);
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

TEST(QueryAware, QueryTermsAreNormalisedWordsOfTwoBytesOrMore) {
    const auto c = make("  What is a \"Café\"?  I, (x) don't-know ß ÉTÉ… 42 ");
    EXPECT_EQ(sorted(c.query_terms()),
              (std::vector<std::string>{"42", "café", "don't-know", "is", "what", "ß", "été"}));
    EXPECT_TRUE(make("a I , -").query_terms().empty());
    EXPECT_EQ(c.query, "  What is a \"Café\"?  I, (x) don't-know ß ÉTÉ… 42 ");
}

TEST(QueryAware, ScoreCountsEveryHitAndListsTermsOnce) {
    const auto c = make("unrelated query");
    const auto terms = set({"rust", "fast"});
    const SentenceScore s = c.score_sentence("Rust is fast, rust is safe.", terms);
    EXPECT_DOUBLE_EQ(s.score, 3.0 / 6.0);
    EXPECT_EQ(s.matched_terms, (std::vector<std::string>{"rust", "fast"}));

    // Words of one character and words that are only punctuation: the first count, the second do not.
    EXPECT_DOUBLE_EQ(c.score_sentence("a rust -- !", terms).score, 1.0 / 2.0);
    // No words, or no terms: 0 and nothing matched.
    EXPECT_EQ(c.score_sentence("-- ... !!", terms).score, 0.0);
    const SentenceScore none = c.score_sentence("rust fast", {});
    EXPECT_EQ(none.score, 0.0);
    EXPECT_TRUE(none.matched_terms.empty());
}

TEST(QueryAware, PhraseBonusUsesTheRawLowerCasedQuery) {
    const auto c = make("Fast, Safe");
    const auto& terms = c.query_terms();
    // 2 hits of 5 words + 0.5 for the phrase "fast, safe" (with its comma).
    EXPECT_DOUBLE_EQ(c.score_sentence("It is FAST, SAFE code.", terms).score, 2.0 / 5.0 + 0.5);
    // Without the comma the phrase is not there.
    EXPECT_DOUBLE_EQ(c.score_sentence("It is fast safe code.", terms).score, 2.0 / 5.0);
    // The bonus cannot lift a score above 1.
    EXPECT_EQ(c.score_sentence("fast, safe", terms).score, 1.0);
    // The bonus needs terms: a query of one-letter words never scores.
    EXPECT_EQ(make("a b").score_sentence("x a b y", make("a b").query_terms()).score, 0.0);
}

TEST(QueryAware, WindowSizesAreAdjustedSoThatEveryWindowAdvances) {
    struct Case {
        std::uint64_t hs, ho, cs;
        std::uint64_t hotspot_sentences, hotspot_overlap, context_sentences, context_overlap;
    };
    const Case cases[] = {
        {2, 1, 5, 2, 1, 5, 1}, {0, 3, 0, 1, 0, 1, 0}, {3, 3, 1, 3, 2, 1, 0},
        {3, 99, 2, 3, 2, 2, 1}, {1, 1, 7, 1, 0, 7, 1},
    };
    for (const Case& k : cases) {
        const QueryAwareChunker c("q", k.hs, k.ho, k.cs, 0.5);
        EXPECT_EQ(c.hotspot_sentences, k.hotspot_sentences);
        EXPECT_EQ(c.hotspot_overlap, k.hotspot_overlap);
        EXPECT_EQ(c.context_sentences, k.context_sentences);
        EXPECT_EQ(c.context_overlap, k.context_overlap);
    }
}

TEST(QueryAware, ScoresRoundToThreeDecimalsHalvesAwayFromZero) {
    EXPECT_EQ(round_score(1.0 / 3.0), 0.333);
    EXPECT_EQ(round_score(2.0 / 3.0), 0.667);
    EXPECT_EQ(round_score(1.0 / 2000.0), 0.001);
    EXPECT_EQ(round_score(0.0), 0.0);
    EXPECT_EQ(round_score(1.0), 1.0);
}
