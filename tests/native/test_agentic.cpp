// The agentic chunker's native interfaces: the decision maker asked directly, its content words,
// the running-total session against plain replays, and decision makers other than the built-in one.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "chunker/agentic.hpp"

using namespace slivr;

namespace {

using Sentences = std::vector<std::string_view>;

AgenticDecision decide(const HeuristicAgenticDecisionMaker& m, const Sentences& current, std::string_view next) {
    auto r = m.decide(current, next);
    EXPECT_TRUE(r.has_value());
    return r ? *r : AgenticDecision{};
}

// Forwards `decide` to another maker but keeps the default session, which replays the whole group
// for every sentence: the reference for the heuristic maker's running totals.
class Replaying final : public AgenticDecisionMaker {
public:
    explicit Replaying(std::shared_ptr<const AgenticDecisionMaker> inner) : inner_(std::move(inner)) {}
    Result<AgenticDecision> decide(std::span<const std::string_view> current, std::string_view next) const override {
        return inner_->decide(current, next);
    }

private:
    std::shared_ptr<const AgenticDecisionMaker> inner_;
};

// Splits before every sentence that starts with '#', labelled by that sentence; fails on "boom".
class HashSplitter final : public AgenticDecisionMaker {
public:
    Result<AgenticDecision> decide(std::span<const std::string_view> current, std::string_view next) const override {
        if (next == "boom.") return fail(SlivrError::generic("boom after " + std::to_string(current.size())));
        if (next.starts_with('#')) return AgenticDecision::split_here(std::string(next), "hash");
        return AgenticDecision::keep_going();
    }
};

Documents chunk(const AgenticChunker& c, std::string_view text) {
    auto r = c.chunk(text);
    EXPECT_TRUE(r.has_value()) << r.error().message();
    return r ? std::move(*r) : Documents{};
}

std::string meta(const Document& d, const char* key) { return d.metadata.find(key)->get<std::string>(); }

}  // namespace

TEST(AgenticDecision, RulesInTheirOrder) {
    const HeuristicAgenticDecisionMaker m(60, 10);
    // An empty group always continues, even for a sentence longer than the limit.
    EXPECT_FALSE(decide(m, {}, std::string(100, 'x')).split);
    // Size first: the group joins to 30 + 1 + 29 = 60 bytes; the blank before the next sentence is not counted.
    const std::string a(30, 'a'), b(29, 'b');
    EXPECT_EQ(decide(m, {a, b}, "x").topic_label, "Size Boundary");  // 60 + 1 >= 60
    EXPECT_FALSE(decide(HeuristicAgenticDecisionMaker(62, 100), {a, b}, "x").split);  // 60 + 1 < 62
    EXPECT_TRUE(decide(HeuristicAgenticDecisionMaker(61, 100), {a, b}, "x").split);
    // Below min_chars nothing else is looked at.
    EXPECT_FALSE(decide(m, {"short"}, "Finally, we stop.").split);
}

TEST(AgenticDecision, TransitionMarkers) {
    // The group (37 bytes) is long enough for markers but below twice min_chars, so no lexical split.
    const HeuristicAgenticDecisionMaker m(10000, 20);
    const Sentences group = {"We measured the rain over many weeks."};
    struct Case {
        std::string next;
        std::string label;   // empty: no split
        std::string marker;
    };
    const std::vector<Case> cases = {
        {"Finally, we stopped.", "Final Section", "finally"},
        {"FINALLY we stopped.", "Final Section", "finally"},
        {"finallyx we stopped.", "Final Section", "finally"},
        {"We stopped, meanwhile the rain began.", "Parallel Topic", "meanwhile"},
        {"We stopped meanwhile.", "", ""},
        {"Finally, in contrast to before, we stopped.", "Contrast", "in contrast"},
        {"In conclusion: rain.", "Conclusion", "in conclusion"},
        {"Moving on to snow.", "Topic Shift", "moving on to"},
        {"So, on the other hand, snow.", "Counter-argument", "on the other hand"},
        {" finally we stopped.", "", ""},  // the marker must start the sentence itself
    };
    for (const Case& c : cases) {
        const AgenticDecision d = decide(m, group, c.next);
        EXPECT_EQ(d.split, !c.label.empty()) << c.next;
        if (!d.split) continue;
        EXPECT_EQ(d.topic_label, c.label) << c.next;
        EXPECT_EQ(d.split_reason, "Detected discourse transition marker '" + c.marker + "'") << c.next;
    }
}

TEST(AgenticDecision, LexicalDivergenceNamesTheFirstContentWordOfTheNextSentence) {
    const HeuristicAgenticDecisionMaker m(10000, 20);
    const Sentences group = {"Volcanic eruptions reshape islands quickly.", "Lava flows cool into rock."};
    // Nothing shared: split, labelled by the first content word in text order ("the" is a stop word,
    // "of" too short).
    const AgenticDecision d = decide(m, group, "The price of coffee beans rose sharply.");
    EXPECT_TRUE(d.split);
    EXPECT_EQ(d.topic_label, "Topic on price");
    EXPECT_EQ(d.split_reason, "Low lexical overlap and topic divergence detected");
    // One shared word in 14 distinct ones is above 0.05: no split.
    EXPECT_FALSE(decide(m, group, "Coffee grows near volcanic soil.").split);
    // Only short or stop words in the next sentence: no content words, no split.
    EXPECT_FALSE(decide(m, group, "It is on to us.").split);
    // The group must hold twice min_chars for this rule.
    EXPECT_FALSE(decide(HeuristicAgenticDecisionMaker(10000, 40), group, "The price of coffee rose.").split);
}

TEST(AgenticDecision, ContentWordsInOrderOfFirstAppearance) {
    EXPECT_EQ(HeuristicAgenticDecisionMaker::extract_content_words(
                  "The THE cat's (Cat) sat -- on THIS mat, with 42 mats; ÉTÉ été's and naïve"),
              (std::vector<std::string>{"cat's", "cat", "sat", "mat", "mats", "été", "été's", "naïve"}));
    EXPECT_TRUE(HeuristicAgenticDecisionMaker::extract_content_words("a an is of to it").empty());
}

TEST(AgenticDecision, RunningTotalsDecideLikeReplayingTheGroup) {
    // Random texts from a small vocabulary with markers and varied sentence lengths; the chunker with
    // the heuristic maker's own session must cut exactly where replaying `decide` cuts.
    const std::vector<std::string> words = {"rain", "snow", "river", "stone", "Finally,", "meanwhile", "the",
                                            "and", "of", "cloud", "wind", "sea", "in contrast", "hill", "salt"};
    std::mt19937 rng(3);
    for (int round = 0; round < 200; ++round) {
        std::string text;
        const int sentences = 1 + static_cast<int>(rng() % 40);
        for (int s = 0; s < sentences; ++s) {
            const int n = 1 + static_cast<int>(rng() % 12);
            for (int w = 0; w < n; ++w) text += words[rng() % words.size()] + (w + 1 < n ? " " : ". ");
        }
        const std::size_t min_chars = rng() % 80, max_chars = rng() % 400;
        const auto heuristic = std::make_shared<const HeuristicAgenticDecisionMaker>(max_chars, min_chars);
        const auto direct = chunk(AgenticChunker().with_decision_maker(heuristic), text);
        const auto replayed =
            chunk(AgenticChunker().with_decision_maker(std::make_shared<const Replaying>(heuristic)), text);
        ASSERT_EQ(direct.size(), replayed.size()) << text;
        for (std::size_t i = 0; i < direct.size(); ++i) {
            EXPECT_EQ(direct[i].content, replayed[i].content);
            EXPECT_EQ(direct[i].metadata, replayed[i].metadata);
        }
    }
}

TEST(AgenticChunker, OtherDecisionMakers) {
    const auto c = AgenticChunker().with_decision_maker(std::make_shared<const HashSplitter>());
    // A split before the first sentence only replaces the label; no empty chunk is emitted.
    const auto chunks = chunk(c, "#a. b. #c. d. e.");
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].content, "#a. b.");
    EXPECT_EQ(meta(chunks[0], "topic_label"), "#a.");
    EXPECT_EQ(meta(chunks[0], "split_reason"), "hash");
    EXPECT_EQ(chunks[1].content, "#c. d. e.");
    EXPECT_EQ(*chunks[1].metadata.find("sentence_count"), Json(3u));
    // The group handed to `decide` is the current chunk's sentences.
    EXPECT_EQ(c.chunk("a. #b. c. boom.").error().message(), "Generic error: boom after 2");
}

TEST(AgenticChunker, DefaultDecisionMaker) {
    const AgenticChunker chunker;
    const auto* m = dynamic_cast<const HeuristicAgenticDecisionMaker*>(chunker.decision_maker().get());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->max_chars, 1200u);
    EXPECT_EQ(m->min_chars, 150u);
}
