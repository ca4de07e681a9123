// The block-wise searchers against a plain byte-by-byte search, for every instruction set the
// processor runs: positions near block edges and the tail, dense and sparse matches, long needles.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "text/search.hpp"

using namespace slivr;
using text::detail::Isa;

namespace {

std::vector<Isa> supported_isas() {
    std::vector<Isa> out;
    for (Isa isa : {Isa::Portable, Isa::Sse2, Isa::Avx2}) {
        if (text::detail::isa_supported(isa)) out.push_back(isa);
    }
    return out;
}

// Non-overlapping matches, left to right, the way the splitter asks for them.
std::vector<std::size_t> expected_matches(std::string_view hay, std::string_view needle) {
    std::vector<std::size_t> out;
    for (std::size_t pos = hay.find(needle); pos != std::string_view::npos; pos = hay.find(needle, pos + needle.size()))
        out.push_back(pos);
    return out;
}

std::vector<std::size_t> cursor_matches(std::string_view hay, std::string_view needle, Isa isa) {
    std::vector<std::size_t> out;
    text::MatchCursor cursor(hay, needle, isa);
    for (std::size_t pos = cursor.find(0); pos != std::string_view::npos; pos = cursor.find(pos + needle.size()))
        out.push_back(pos);
    return out;
}

std::string random_text(std::mt19937& rng, std::size_t size, std::string_view alphabet) {
    std::string s(size, ' ');
    for (char& c : s) c = alphabet[rng() % alphabet.size()];
    return s;
}

}  // namespace

TEST(Search, MatchCursorAgreesWithPlainSearch) {
    std::mt19937 rng(7);
    const std::vector<std::string> needles = {"\n", "\n\n", "ab", "aba", "abcab", " x", std::string(63, 'a') + "b",
                                              std::string(64, 'a'), std::string(65, 'a'), "ba" + std::string(70, 'a')};
    for (Isa isa : supported_isas()) {
        for (int round = 0; round < 300; ++round) {
            const std::size_t size = rng() % 400;
            const std::string hay = random_text(rng, size, round % 2 ? "ab\n x" : "aaaaab");
            for (const std::string& needle : needles) {
                ASSERT_EQ(cursor_matches(hay, needle, isa), expected_matches(hay, needle))
                    << "isa " << int(isa) << " needle size " << needle.size() << " text size " << size;
            }
        }
    }
}

TEST(Search, MatchCursorFindsFromAnyLaterPosition) {
    const std::string hay = std::string(100, 'x') + "ab" + std::string(100, 'x') + "ab";
    for (Isa isa : supported_isas()) {
        text::MatchCursor cursor(hay, "ab", isa);
        EXPECT_EQ(cursor.find(0), 100u);
        EXPECT_EQ(cursor.find(100), 100u);
        EXPECT_EQ(cursor.find(101), 202u);
        EXPECT_EQ(cursor.find(203), std::string_view::npos);
        EXPECT_EQ(cursor.find(5000), std::string_view::npos);
    }
}

TEST(Search, ByteSetCursorAgreesWithPlainSearch) {
    std::mt19937 rng(11);
    for (Isa isa : supported_isas()) {
        for (int round = 0; round < 300; ++round) {
            const std::string hay = random_text(rng, rng() % 300, "abc.!?xyz   ");
            for (std::string_view set : {".", ".!?", "a.!?", "?"}) {
                std::vector<std::size_t> expected;
                for (std::size_t i = 0; i < hay.size(); ++i) {
                    if (set.find(hay[i]) != std::string_view::npos) expected.push_back(i);
                }
                std::vector<std::size_t> got;
                text::ByteSetCursor cursor(hay, set, isa);
                // Ask with gaps now and then, as the sentence splitter does after a closing mark.
                for (std::size_t pos = cursor.find(0); pos != std::string_view::npos;
                     pos = cursor.find(pos + 1 + (pos % 3 == 0 ? 1 : 0))) {
                    got.push_back(pos);
                }
                std::vector<std::size_t> expected_with_gaps;
                std::size_t from = 0;
                for (std::size_t e : expected) {
                    if (e < from) continue;
                    expected_with_gaps.push_back(e);
                    from = e + 1 + (e % 3 == 0 ? 1 : 0);
                }
                ASSERT_EQ(got, expected_with_gaps) << "isa " << int(isa) << " set " << set;
            }
        }
    }
}
