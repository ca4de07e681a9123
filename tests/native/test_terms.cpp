// The word helpers of the analytic chunkers: stripping, the word hash and the ordered word set.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "chunker/terms.hpp"

using namespace slivr;

TEST(Terms, StripKeepsInnerCharactersAndDecodesAtTheEdges) {
    EXPECT_EQ(terms::strip_non_alphanumeric("(don't)"), "don't");
    EXPECT_EQ(terms::strip_non_alphanumeric("--"), "");
    EXPECT_EQ(terms::strip_non_alphanumeric("«été»,"), "été");
    EXPECT_EQ(terms::strip_non_alphanumeric("x²"), "x²");  // a number of category No
    EXPECT_EQ(terms::strip_non_alphabetic("3supports2!"), "supports");
    EXPECT_EQ(terms::strip_non_alphabetic("(Ärger)"), "Ärger");
}

TEST(Terms, StripFastPathsAgreeWithTheDecodingForm) {
    // Words built from ASCII, two-byte letters and marks (Cyrillic, Latin, «», the No-category ²,
    // the Mn mark U+0301), and longer characters, in every arrangement at both ends.
    const std::vector<std::string> pieces = {"a", "Z", "7", ".", "(", "\"", "ж", "Я", "é", "«", "»", "²", "\u0301",
                                             "\u00A0", "—", "日", "😀", "ab"};
    std::mt19937 rng(5);
    for (int round = 0; round < 20000; ++round) {
        std::string word;
        const int count = 1 + static_cast<int>(rng() % 6);
        for (int k = 0; k < count; ++k) word += pieces[rng() % pieces.size()];
        ASSERT_EQ(terms::strip_non_alphanumeric(word), terms::strip_non_alphanumeric_slow(word)) << word;
    }
}

TEST(Terms, HashReadsOnlyTheWordsBytes) {
    // The same word inside different surroundings, at every length around the load sizes.
    for (std::size_t n = 0; n <= 40; ++n) {
        const std::string word(n, 'w');
        const std::string a = "<" + word + "abcdefghijklmnop";
        const std::string b = "#" + word + "ponmlkjihgfedcba";
        EXPECT_EQ(terms::hash_bytes(std::string_view(a).substr(1, n)),
                  terms::hash_bytes(std::string_view(b).substr(1, n)))
            << n;
    }
    EXPECT_NE(terms::hash_bytes("abcdefghijklmnopq"), terms::hash_bytes("abcdefghijklmnopr"));
}

TEST(Terms, TermSetKeepsFirstAppearanceOrderAndSurvivesGrowthAndClearing) {
    terms::TermSet set;
    std::vector<std::string> words;
    for (int i = 0; i < 500; ++i) words.push_back("word-number-" + std::to_string(i * 7919 % 1000));
    for (const std::string& w : words) EXPECT_TRUE(set.insert(w));
    for (const std::string& w : words) EXPECT_FALSE(set.insert(std::string(w)));  // equal bytes, other buffer
    ASSERT_EQ(set.size(), words.size());
    for (std::size_t i = 0; i < words.size(); ++i) EXPECT_EQ(set[i], words[i]);
    EXPECT_TRUE(set.contains("word-number-0"));
    EXPECT_FALSE(set.contains("word-number-1000"));
    set.clear();
    EXPECT_TRUE(set.empty());
    EXPECT_FALSE(set.contains("word-number-0"));
    EXPECT_TRUE(set.insert("again"));
    EXPECT_EQ(set[0], "again");
    EXPECT_EQ(set.size(), 1u);
}
