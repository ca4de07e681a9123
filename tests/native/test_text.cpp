// The Unicode layer: character classes, lower-casing, words and trimming.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "text/join.hpp"
#include "text/unicode.hpp"

using namespace slivr;

TEST(Text, AlphanumericIsAlphabeticOrNumber) {
    for (char32_t c : {U'a', U'Z', U'0', U'9', U'é', U'ß', U'日', U'Ж', U'٣' /* Nd */, U'Ⅻ' /* Nl */,
                       U'½' /* No */, U'²' /* No */, U'ª', U'\u0345' /* Mn, but Alphabetic */}) {
        EXPECT_TRUE(text::is_alphanumeric(c)) << static_cast<std::uint32_t>(c);
    }
    for (char32_t c : {U' ', U'_', U'-', U'.', U'\u00A0', U'€', U'\u0301' /* Mn, not Alphabetic */, U'😀',
                       U'\u3000', U'。'}) {
        EXPECT_FALSE(text::is_alphanumeric(c)) << static_cast<std::uint32_t>(c);
    }
}

TEST(Text, WhiteSpaceIsTheUnicodeProperty) {
    for (char32_t c : {U' ', U'\t', U'\n', U'\v', U'\f', U'\r', U'\u0085', U'\u00A0', U'\u1680', U'\u2000',
                       U'\u200A', U'\u2028', U'\u2029', U'\u202F', U'\u205F', U'\u3000'}) {
        EXPECT_TRUE(text::is_white_space(c)) << static_cast<std::uint32_t>(c);
    }
    // Separators that are not White_Space, and the byte-order mark.
    for (char32_t c : {U'\u001C', U'\u001F', U'\u200B', U'\uFEFF', U'\u180E', U'x'}) {
        EXPECT_FALSE(text::is_white_space(c)) << static_cast<std::uint32_t>(c);
    }
}

TEST(Text, LowerCaseIsTheFullStringMapping) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"Hello, WORLD 42!", "hello, world 42!"},
        {"ÄÖÜ Straße", "äöü straße"},
        {"ΟΔΟΣ ΣΟΦΟΣ", "οδος σοφος"},      // final sigma at word ends, medial elsewhere
        {"ΣΑ", "σα"},                      // a sigma before a letter stays medial
        {"İstanbul", "i\u0307stanbul"},    // grows by one byte: root locale, not Turkish
        {"\u212A", "k"},                   // Kelvin sign shrinks to one byte
        {"ЖУРНАЛ", "журнал"},
        {"日本語", "日本語"},
    };
    for (const auto& [in, expected] : cases) EXPECT_EQ(text::to_lower(in), expected) << in;

    std::string buffer = "left over from an earlier call";
    text::to_lower_into("ABC", buffer);
    EXPECT_EQ(buffer, "abc");
    text::to_lower_into("ÉCOLE", buffer);
    EXPECT_EQ(buffer, "école");
}

TEST(Text, LowerCaseOfLongMixedText) {
    std::string in;
    std::string expected;
    for (int i = 0; i < 20000; ++i) {
        in += "Aé İ ΣΣ ";
        expected += "aé i\u0307 σς ";
    }
    EXPECT_EQ(text::to_lower(in), expected);
}

TEST(Text, WordsAreRunsBetweenUnicodeWhiteSpace) {
    EXPECT_EQ(text::split_words("  one  two\nthree\tfour \u3000five\u00A0six "),
              (std::vector<std::string_view>{"one", "two", "three", "four", "five", "six"}));
    EXPECT_EQ(text::split_words("a,b. (c)"), (std::vector<std::string_view>{"a,b.", "(c)"}));
    EXPECT_EQ(text::split_words("x\u200By"), (std::vector<std::string_view>{"x\u200By"}));
    EXPECT_TRUE(text::split_words("").empty());
    EXPECT_TRUE(text::split_words(" \n\u2028 ").empty());
}

TEST(Text, LastWord) {
    EXPECT_EQ(text::last_word("see Dr."), "Dr.");
    EXPECT_EQ(text::last_word("x\u00A0(Dr."), "(Dr.");
    EXPECT_EQ(text::last_word("word"), "word");
    EXPECT_EQ(text::last_word("ends in blank "), "");
    EXPECT_EQ(text::last_word(""), "");
    EXPECT_EQ(text::last_word("日本 語。"), "語。");
}

TEST(Text, TrimUsesUnicodeWhiteSpace) {
    EXPECT_EQ(text::trim("\u3000\u00A0 a b \n\u2029"), "a b");
    EXPECT_EQ(text::trim("\u200Bx\u200B"), "\u200Bx\u200B");
    EXPECT_EQ(text::trim(" \t "), "");
    EXPECT_TRUE(text::is_blank("\u2028\u0085"));
}

TEST(Text, Join) {
    const std::vector<std::string_view> parts = {"a", "", "bc"};
    EXPECT_EQ(text::join(parts, " "), "a  bc");
    EXPECT_EQ(text::join(std::span(parts).first(1), "--"), "a");
    EXPECT_EQ(text::join({}, " "), "");
}
