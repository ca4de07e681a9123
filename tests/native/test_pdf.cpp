// The PDF loader's own rules, on scripted pages: joining, failed pages, file names, and the
// conversion of the reader's UTF-16 text.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "loader/pdf.hpp"
#include "loader/pdf_reader.hpp"

using namespace slivr;

namespace {

// Pages with fixed texts; nullopt stands for a page the reader cannot extract.
class ScriptedPages final : public PdfPages {
public:
    explicit ScriptedPages(std::vector<std::optional<std::string>> pages) : pages_(std::move(pages)) {}
    std::uint32_t page_count() const override { return static_cast<std::uint32_t>(pages_.size()); }
    Result<std::string> page_text(std::uint32_t number) const override {
        const auto& page = pages_.at(number - 1);
        if (!page) return fail(SlivrError::document_parse("page " + std::to_string(number) + " is broken"));
        return *page;
    }

private:
    std::vector<std::optional<std::string>> pages_;
};

std::string utf16le(std::u16string_view units) {
    std::string bytes;
    for (char16_t u : units) {
        bytes.push_back(static_cast<char>(u & 0xFF));
        bytes.push_back(static_cast<char>(u >> 8));
    }
    return bytes;
}

std::string convert(std::u16string_view units) {
    const std::string bytes = utf16le(units);
    return page_text_from_utf16le({reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()});
}

}  // namespace

TEST(ExtractAllText, JoinsPagesWithOneNewline) {
    struct Case {
        std::vector<std::optional<std::string>> pages;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {{"A", "B\n", "C"}, "A\nB\nC"},
        {{"A", std::nullopt, "C"}, "A\nC"},
        {{std::nullopt, "A", std::nullopt}, "A"},
        {{"", "A", "", "B", ""}, "A\nB\n"},
        {{"A\n\n", "B"}, "A\n\nB"},
        {{"  A  ", "  B"}, "  A  \n  B"},
        {{}, ""},
        {{"", ""}, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(extract_all_text(ScriptedPages(c.pages)), c.expected);
}

TEST(ExtractPages, OneDocumentPerPageWithFailedPagesEmpty) {
    const ScriptedPages pdf({"A ", std::nullopt, "", "C\n"});
    const Documents docs = extract_pages(pdf, "dir/x.pdf", "x.pdf");
    ASSERT_EQ(docs.size(), 4u);
    const std::vector<std::string> contents = {"A ", "", "", "C\n"};
    for (std::size_t i = 0; i < docs.size(); ++i) {
        EXPECT_EQ(docs[i].content, contents[i]);
        Metadata expected;
        expected.set("page_number", i + 1);
        expected.set("total_pages", 4u);
        expected.set("source", "dir/x.pdf");
        expected.set("file_name", "x.pdf");
        EXPECT_EQ(docs[i].metadata, expected);
    }
    const Documents bare = extract_pages(pdf, std::nullopt, std::nullopt);
    ASSERT_EQ(bare.size(), 4u);
    EXPECT_EQ(bare[1].metadata.size(), 2u);
    EXPECT_FALSE(bare[1].metadata.contains("source"));
    EXPECT_TRUE(extract_pages(ScriptedPages({}), "a.pdf", "a.pdf").empty());
}

TEST(FileName, LastOrdinaryComponent) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"dir/report.pdf", "report.pdf"},
        {"/abs/dir/report.pdf", "report.pdf"},
        {"report.pdf", "report.pdf"},
        {"dir/sub/", "sub"},
        {"dir//sub//", "sub"},
        {"dir/sub/.", "sub"},
        {"dir/./sub", "sub"},
        {"./report.pdf", "report.pdf"},
        {"dir/..", std::nullopt},
        {"..", std::nullopt},
        {"../", std::nullopt},
        {"/", std::nullopt},
        {"//", std::nullopt},
        {".", std::nullopt},
        {"./", std::nullopt},
        {"/.", std::nullopt},
        {"", std::nullopt},
        {"...", "..."},
        {".hidden", ".hidden"},
        {"dir/r\xC3\xA9sum\xC3\xA9.pdf", "r\xC3\xA9sum\xC3\xA9.pdf"},
    };
    for (const auto& [path, expected] : cases) {
        const auto got = file_name_of(path);
        EXPECT_EQ(got ? std::optional<std::string>(*got) : std::nullopt, expected) << "path: " << path;
    }
}

TEST(PageText, Utf16ToUtf8) {
    EXPECT_EQ(convert(u"plain"), "plain");
    EXPECT_EQ(convert(u"caf\u00e9 \u65e5\u672c"), "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC");
    EXPECT_EQ(convert(u"\U0001F642!"), "\xF0\x9F\x99\x82!");  // a surrogate pair
    EXPECT_EQ(convert(u"\U00010000\U0010FFFF"), "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
    // Unpaired surrogates: high at the end, high before a non-surrogate, a lone low.
    EXPECT_EQ(convert(std::u16string(u"a") + char16_t(0xD83D)), "a\xEF\xBF\xBD");
    EXPECT_EQ(convert(std::u16string(1, char16_t(0xD83D)) + u"b"), "\xEF\xBF\xBD" "b");
    EXPECT_EQ(convert(std::u16string(1, char16_t(0xDE42)) + u"c"), "\xEF\xBF\xBD" "c");
    EXPECT_EQ(convert(std::u16string(2, char16_t(0xD83D))), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(convert(u""), "");
}

TEST(PageText, LineEndsAndHyphenMarker) {
    EXPECT_EQ(convert(u"a\r\nb\rc\nd\r\n"), "a\nb\nc\nd\n");
    EXPECT_EQ(convert(u"\r\r\n\n"), "\n\n\n");
    EXPECT_EQ(convert(u"expres\uFFFEsions"), "expressions");
    EXPECT_EQ(convert(u"\uFFFF\uFEFF"), "\xEF\xBF\xBF\xEF\xBB\xBF");  // other noncharacters kept
    // An odd trailing byte is not half a unit of text.
    const std::string bytes = utf16le(u"ab") + "x";
    EXPECT_EQ(page_text_from_utf16le({reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()}), "ab");
}

TEST(PdfReader, UnavailableLibraryIsAParseError) {
    if (pdf_reader_loaded()) GTEST_SKIP() << "a reader library is already loaded in this process";
    const auto missing = load_pdf_reader({});
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().message(),
              "Document parse error: the PDF reader library was not found: install the pypdfium2 package");

    const std::vector<std::string> bad = {"/nonexistent/libpdfium.so"};
    const auto unloadable = load_pdf_reader(bad);
    ASSERT_FALSE(unloadable);
    EXPECT_EQ(unloadable.error().kind(), SlivrError::Kind::DocumentParse);
    EXPECT_NE(unloadable.error().detail().find("/nonexistent/libpdfium.so"), std::string::npos);

    // A real shared library that is not the reader.
    const std::vector<std::string> wrong = {"libm.so.6"};
    const auto lacking = load_pdf_reader(wrong);
    ASSERT_FALSE(lacking);
    EXPECT_NE(lacking.error().detail().find("lacks the function FPDF_InitLibraryWithConfig"), std::string::npos);
    EXPECT_FALSE(pdf_reader_loaded());

    const auto open = open_pdf_memory("%PDF-1.7");
    ASSERT_FALSE(open);
    EXPECT_EQ(open.error().kind(), SlivrError::Kind::DocumentParse);
    EXPECT_FALSE(PDFLoader().load_from_file("x.pdf"));
}
