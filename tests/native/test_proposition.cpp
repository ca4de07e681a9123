// The proposition extractor on its own, validation when the chunker is built, and extractors
// other than the built-in one.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "chunker/proposition.hpp"

using namespace slivr;

namespace {

using Props = std::vector<std::string>;

Props extract(std::string_view sentence) {
    auto r = SyntacticPropositionExtractor().extract_propositions(sentence);
    EXPECT_TRUE(r.has_value());
    return r ? *r : Props{};
}

// Splits at every comma, or fails on a sentence holding "!".
class CommaExtractor final : public PropositionExtractor {
public:
    Result<std::vector<std::string>> extract_propositions(std::string_view sentence) const override {
        if (sentence.find('!') != std::string_view::npos) return fail(SlivrError::generic("cannot parse"));
        std::vector<std::string> out;
        std::size_t pos = 0;
        while (true) {
            const std::size_t comma = sentence.find(',', pos);
            const std::string_view piece = sentence.substr(pos, comma - pos);
            if (!piece.empty()) out.emplace_back(piece);
            if (comma == std::string_view::npos) break;
            pos = comma + 1;
        }
        return out;
    }
};

}  // namespace

TEST(PropositionExtractor, WorkedExamples) {
    EXPECT_EQ(extract("The library supports async, and provides caching."),
              (Props{"The library supports async.", "The library provides caching."}));
    EXPECT_EQ(extract("The framework, which was released in 2015, is fast."),
              (Props{"The framework is fast.", "The framework was released in 2015."}));
    EXPECT_EQ(extract("We met the author, who lives in Oslo."), (Props{"We met the author.", "lives in Oslo."}));
}

TEST(PropositionExtractor, RelativeClauses) {
    const std::vector<std::pair<std::string, Props>> cases = {
        // A relative-clause verb lets the clause speak of the last word of the main clause.
        {"We visited the museum, which features modern art.",
         {"We visited the museum.", "museum features modern art."}},
        {"Bob, who Is tall.", {"Bob.", "Bob Is tall."}},
        // ", which " wins over ", who " even when ", who " comes first, and over every coordination.
        {"Ann, who sings, and Tom, which is odd.", {"Ann, who sings, and Tom.", "Tom is odd."}},
        // Trailing commas of the main clause and trailing full stops of the clauses go.
        {"The tool,, which is small.", {"The tool.", "tool is small."}},
        {"The tool, which is new, works well...", {"The tool works well.", "The tool is new."}},
        // A clause of full stops only: the main clause, then a lone full stop.
        {"It ended, which ...", {"It ended.", "."}},
        // A main clause without words has nothing to repeat.
        {", which is odd.", {".", "is odd."}},
    };
    for (const auto& [sentence, expected] : cases) EXPECT_EQ(extract(sentence), expected) << sentence;
}

TEST(PropositionExtractor, Coordination) {
    const std::vector<std::pair<std::string, Props>> cases = {
        // The subject is the words before the first subject verb after the first word.
        {"Our new server is fast; has plenty of memory; costs little.",
         {"Our new server is fast.", "Our new server has plenty of memory.", "costs little."}},
        // Without a subject verb, the first two words serve as subject.
        {"Big dogs bark loudly, and welcomes guests.", {"Big dogs bark loudly.", "Big dogs welcomes guests."}},
        // The subject search reads the whole sentence, marker included.
        {"Big dogs bark loudly, but are friendly.",
         {"Big dogs bark loudly.", "Big dogs bark loudly, but are friendly."}},
        // A subject verb at the first word is passed over; digits do not count as letters.
        {"Can openers were cheap, and are sold out.", {"Can openers were cheap.", "Can openers are sold out."}},
        {"Our tool 2supports3 plugins, and has docs.", {"Our tool 2supports3 plugins.", "Our tool has docs."}},
        // A lone word after a marker is dropped; if that leaves one proposition, the next marker is tried.
        {"Apples, and pears are ripe; plums", {"Apples.", "pears are ripe; plums."}},
        {"Apples; pears", {"Apples; pears"}},
        // Leading and trailing commas and full stops of a part go.
        {"One thing., however, .another thing.", {"One thing.", "another thing."}},
        // The part after a marker must contain a space character, not just white space.
        {"First part here; second\tpart", {"First part here; second\tpart"}},
        // Markers are literal and case-sensitive; without a following space there is no marker.
        {"Cats sleep,and dogs bark.", {"Cats sleep,and dogs bark."}},
        {"It works, Which is nice.", {"It works, Which is nice."}},
        {"It works, and", {"It works, and"}},
    };
    for (const auto& [sentence, expected] : cases) EXPECT_EQ(extract(sentence), expected) << sentence;
}

TEST(PropositionExtractor, SentenceWithoutPatternStaysWholeAndTrimmed) {
    EXPECT_EQ(extract("  A plain sentence without full stop \n"), (Props{"A plain sentence without full stop"}));
    EXPECT_EQ(extract(" \t "), Props{});
}

TEST(PropositionChunker, ValidatedWhenBuilt) {
    const auto extractor = std::make_shared<const SyntacticPropositionExtractor>();
    EXPECT_EQ(PropositionChunker::create(extractor, 0, 0).error(), SlivrError::invalid_chunk_size(0));
    EXPECT_EQ(PropositionChunker::create(extractor, 3, 3).error(), SlivrError::invalid_chunk_overlap(3, 3));
    EXPECT_EQ(PropositionChunker::create(extractor, 3, 3).error().message(),
              "Invalid chunk overlap: 3 (must be strictly less than chunk_size 3)");
    const auto ok = PropositionChunker::create(extractor, 3, 2);
    ASSERT_TRUE(ok.has_value());
    EXPECT_EQ(ok->propositions_per_chunk(), 3u);
    EXPECT_EQ(ok->overlap(), 2u);
}

TEST(PropositionChunker, OtherExtractorsAndTheirErrors) {
    const auto chunker = *PropositionChunker::create(std::make_shared<const CommaExtractor>(), 2, 1);
    const auto chunks = chunker.chunk("a,b. c.");
    ASSERT_TRUE(chunks.has_value());
    ASSERT_EQ(chunks->size(), 2u);
    EXPECT_EQ((*chunks)[0].content, "a b.");
    EXPECT_EQ((*chunks)[1].content, "b. c.");
    EXPECT_EQ(chunker.chunk("Fine. Bad!").error().message(), "Generic error: cannot parse");
    // An extractor that finds nothing at all leaves the text without propositions.
    const auto nothing = chunker.chunk(",,,");
    ASSERT_FALSE(nothing.has_value());
    EXPECT_EQ(nothing.error(), SlivrError::empty_input());
}
