// The Unicode layer: character classes, lower-casing, words and trimming.
#include <gtest/gtest.h>
#include <unicode/ucasemap.h>
#include <unicode/uchar.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "text/join.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

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

namespace {

std::string utf8_of(char32_t c) {
    std::string out;
    utf8::append(c, out);
    return out;
}

std::string icu_lower(const std::string& s) {
    UErrorCode status = U_ZERO_ERROR;
    UCaseMap* map = ucasemap_open("", U_FOLD_CASE_DEFAULT, &status);
    std::string out(s.size() * 3 + 16, '\0');
    const int32_t n = ucasemap_utf8ToLower(map, out.data(), static_cast<int32_t>(out.size()), s.data(),
                                           static_cast<int32_t>(s.size()), &status);
    ucasemap_close(map);
    EXPECT_TRUE(U_SUCCESS(status));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

bool is_scalar_value(char32_t c) { return c < 0xD800 || (c > 0xDFFF && c <= 0x10FFFF); }

}  // namespace

TEST(Text, WhiteSpaceAgreesWithIcuOnEveryCodePoint) {
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        ASSERT_EQ(text::is_white_space(c), u_isUWhiteSpace(static_cast<UChar32>(c)) != 0) << std::hex << static_cast<std::uint32_t>(c);
    }
}

TEST(Text, AlphanumericAgreesWithIcuOnEveryCodePoint) {
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        const auto u = static_cast<UChar32>(c);
        const std::int8_t category = u_charType(u);
        const bool expected = u_isUAlphabetic(u) || category == U_DECIMAL_DIGIT_NUMBER ||
                              category == U_LETTER_NUMBER || category == U_OTHER_NUMBER;
        ASSERT_EQ(text::is_alphanumeric(c), expected) << std::hex << static_cast<std::uint32_t>(c);
    }
}

TEST(Text, LowerCaseAgreesWithIcuOnEveryCodePoint) {
    // Alone, after ASCII runs long enough for the eight- and sixteen-byte paths (at every offset
    // in a block), and between letters (final sigma).
    for (char32_t c = 0x80; c <= 0x10FFFF; ++c) {
        if (!is_scalar_value(c)) continue;
        const std::string ch = utf8_of(c);
        const std::string shifted = std::string(c % 19, 'A') + ch + "BCDEFGHIJKLMNOPQRS" + ch;
        for (const std::string& s : {ch, "ABCDEFGHIJ" + ch + "K", "Ab" + ch, "ΑΒ" + ch + " x", shifted}) {
            ASSERT_EQ(text::to_lower(s), icu_lower(s)) << std::hex << static_cast<std::uint32_t>(c);
        }
    }
    // Every character of the plane in one text, so that mappings that grow or shrink it accumulate.
    std::string all;
    for (char32_t c = 1; c < 0x10000; ++c) {
        if (is_scalar_value(c) && c != 0x130 && c != 0x3A3) all += utf8_of(c);
    }
    EXPECT_EQ(text::to_lower(all), icu_lower(all));
}

TEST(Text, WordScanAgreesWithACharacterByCharacterScan) {
    // Pieces that exercise every branch of the eight-byte scan: ASCII and other white space,
    // characters sharing a lead byte with white space but not white space themselves.
    const std::vector<std::string> pieces = {" ", "\t", "\n", "\r", "a", "Zz", "é", "\u0085", "\u00A0", "\u00A9",
                                             "\u1680", "\u1681", "\u2000", "\u200A", "\u200B", "\u2028", "\u205F",
                                             "\u2060", "\u3000", "\u3001", "の", "…", "日本", "😀", "longerword", "\x1C"};
    const auto reference = [](std::string_view s) {
        std::vector<std::string_view> words;
        std::size_t pos = 0;
        std::size_t start = std::string_view::npos;
        while (pos < s.size()) {
            std::size_t next = pos;
            const bool space = text::is_white_space(utf8::decode(s, next));
            if (space && start != std::string_view::npos) {
                words.push_back(s.substr(start, pos - start));
                start = std::string_view::npos;
            } else if (!space && start == std::string_view::npos) {
                start = pos;
            }
            pos = next;
        }
        if (start != std::string_view::npos) words.push_back(s.substr(start));
        return words;
    };
    std::mt19937 rng(11);
    for (int round = 0; round < 20000; ++round) {
        std::string s;
        const int count = static_cast<int>(rng() % 64);
        for (int k = 0; k < count; ++k) s += pieces[rng() % pieces.size()];
        ASSERT_EQ(text::split_words(s), reference(s)) << s;
        ASSERT_EQ(text::skip_white_space(s, 0) == s.size(), reference(s).empty()) << s;
    }
}

TEST(Text, BlockClassesAgreeWithTheByteByByteForm) {
    const std::string bytes = std::string(" \t\n\v\f\r\x08\x0E\x1F!az\x7F") + "\x80\x81\x85\xA0\xBF\xC2\xC3\xE1\xE2\xE3\xE4\xFF";
    std::mt19937 rng(3);
    for (int round = 0; round < 2000; ++round) {
        char block[64];
        for (char& b : block) b = bytes[rng() % bytes.size()];
        const auto fast = text::detail::classify_block(block);
        const auto portable = text::detail::classify_block_portable(block);
        ASSERT_EQ(fast.ascii_space, portable.ascii_space);
        ASSERT_EQ(fast.high, portable.high);
        ASSERT_EQ(fast.c2_or_e1, portable.c2_or_e1);
        ASSERT_EQ(fast.e2, portable.e2);
        ASSERT_EQ(fast.e3, portable.e3);
        ASSERT_EQ(fast.x80, portable.x80);
        ASSERT_EQ(fast.x81, portable.x81);
    }
}
