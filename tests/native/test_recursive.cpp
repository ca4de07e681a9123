// Native interfaces of the recursive splitter that Python does not reach: the separator
// placement, the piece lists themselves, and very long separator lists.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "chunker/recursive.hpp"

using namespace slivr;

namespace {

std::vector<std::string_view> split(std::uint64_t size, std::string_view text, const std::vector<std::string>& seps,
                                    SeparatorPlacement placement = SeparatorPlacement::Start) {
    std::vector<std::string_view> out;
    RecursiveChunker::split_recursive_into(size, placement, text, seps, out);
    return out;
}

using Pieces = std::vector<std::string_view>;

}  // namespace

TEST(Recursive, DefaultsAreTheDocumentedOnes) {
    const RecursiveChunker c;
    EXPECT_EQ(c.separators, (std::vector<std::string>{"\n\n", "\n", " ", ""}));
    EXPECT_EQ(c.chunk_size, 1000u);
    EXPECT_EQ(c.overlap, 200u);
    EXPECT_EQ(c.placement, SeparatorPlacement::Start);
}

TEST(Recursive, SeparatorGoesToTheFollowingPieceOrThePrecedingOne) {
    EXPECT_EQ(split(3, "ab,cd,ef", {","}), (Pieces{"ab", ",cd", ",ef"}));
    EXPECT_EQ(split(3, "ab,cd,ef", {","}, SeparatorPlacement::End), (Pieces{"ab,", "cd,", "ef"}));
    // A separator at the very start (or end) gives no empty piece.
    EXPECT_EQ(split(3, ",ab,cd,", {","}), (Pieces{",ab", ",cd", ","}));
    EXPECT_EQ(split(3, ",ab,cd,", {","}, SeparatorPlacement::End), (Pieces{",", "ab,", "cd,"}));
}

TEST(Recursive, MatchesDoNotOverlapAndSearchGoesLeftToRight) {
    EXPECT_EQ(split(2, "aaaaa", {"aa"}), (Pieces{"aa", "aa", "a"}));
    EXPECT_EQ(split(3, "xaaay", {"aa"}), (Pieces{"x", "aaa", "y"}));
}

TEST(Recursive, TooLongPartsUseTheRemainingSeparatorsOnly) {
    // "\n\n" cuts first; the long second part is cut at blanks, the short first part is kept whole.
    EXPECT_EQ(split(6, "ab cd\n\nef gh ij", {"\n\n", " "}), (Pieces{"ab cd", "\n\nef", " gh", " ij"}));
    // A part with no remaining separator falls back to characters.
    EXPECT_EQ(split(3, "ab\n\ncdefgh", {"\n\n"}), (Pieces{"ab", "\n\nc", "def", "gh"}));
    // No separator occurs at all: characters.
    EXPECT_EQ(split(4, "abcdefghij", {"\n", " "}), (Pieces{"abcd", "efgh", "ij"}));
    EXPECT_EQ(split(4, "abcdefghij", {}), (Pieces{"abcd", "efgh", "ij"}));
}

TEST(Recursive, CharacterCutsNeverSplitACharacter) {
    EXPECT_EQ(split(4, "ääääää", {""}), (Pieces{"ääää", "ää"}));
    std::vector<std::string_view> out;
    RecursiveChunker::split_by_char_indices_into(2, "a日b本c", out);
    EXPECT_EQ(out, (Pieces{"a日", "b本", "c"}));
    out.clear();
    RecursiveChunker::split_by_char_indices_into(5, "", out);
    EXPECT_TRUE(out.empty());
    RecursiveChunker::split_by_char_indices_into(0, "abc", out);
    EXPECT_EQ(out, (Pieces{"a", "b", "c"}));
}

TEST(Recursive, AfterAnEmptySeparatorLongPiecesGoOnWithTheRest) {
    // Four two-byte characters are 8 bytes, more than 4: the piece is cut again at "b".
    EXPECT_EQ(split(4, "ääbääää", {"", "b"}), (Pieces{"ää", "bä", "äää"}));
    EXPECT_EQ(split(4, "äbääää", {"", "b"}), (Pieces{"ä", "bää", "ää"}));
}

TEST(Recursive, LongSeparatorListsDoNotNestCalls) {
    // Every separator matches at position 0, so each one opens a split of the same text.
    const std::vector<std::string> seps(200000, "x");
    const std::string text = "x" + std::string(50, 'a');
    const Pieces pieces = split(10, text, seps);
    ASSERT_EQ(pieces.size(), 6u);
    EXPECT_EQ(pieces[0], "xaaaaaaaaa");
    EXPECT_EQ(pieces[5], "a");
}

TEST(Recursive, PiecesAreContiguousViews) {
    std::string text;
    for (int i = 0; i < 2000; ++i) text += (i % 7 == 0 ? "para\n\n" : i % 3 == 0 ? "line\n" : "some words here ");
    const RecursiveChunker defaults;
    const Pieces pieces = split(100, text, defaults.separators);
    const char* at = text.data();
    for (std::string_view p : pieces) {
        ASSERT_EQ(p.data(), at);
        ASSERT_FALSE(p.empty());
        at += p.size();
    }
    EXPECT_EQ(at, text.data() + text.size());
}
