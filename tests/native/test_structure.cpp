// Native interfaces of the structure-aware chunkers that Python does not reach directly: the
// separator lists and names of the code languages, the Markdown section scan and the tree's nodes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chunker/code.hpp"
#include "chunker/hierarchical.hpp"
#include "chunker/html.hpp"
#include "chunker/markdown.hpp"

using namespace slivr;

namespace {

const std::vector<std::string> kFallbacks = {"\n\n", "\n", " ", ""};

}  // namespace

TEST(CodeLanguage, EveryListEndsWithTheFallbacksInOrder) {
    const std::pair<CodeLanguage, std::size_t> sizes[] = {
        {CodeLanguage::Rust, 14}, {CodeLanguage::Python, 9},  {CodeLanguage::JavaScript, 13},
        {CodeLanguage::TypeScript, 13}, {CodeLanguage::Go, 8}, {CodeLanguage::Cpp, 9},
        {CodeLanguage::Java, 9},  {CodeLanguage::Html, 9},    {CodeLanguage::Sql, 10},
        {CodeLanguage::Markdown, 11}, {CodeLanguage::Generic, 4},
    };
    for (const auto& [language, size] : sizes) {
        const std::vector<std::string> seps = get_separators(language);
        ASSERT_EQ(seps.size(), size) << language_name(language);
        EXPECT_EQ(std::vector<std::string>(seps.end() - 4, seps.end()), kFallbacks) << language_name(language);
    }
    EXPECT_EQ(get_separators(CodeLanguage::JavaScript), get_separators(CodeLanguage::TypeScript));
    EXPECT_EQ(get_separators(CodeLanguage::Cpp), get_separators(CodeLanguage::Java));
}

TEST(CodeLanguage, MarkdownFenceHasNoLeadingLineFeed) {
    const std::vector<std::string> seps = get_separators(CodeLanguage::Markdown);
    EXPECT_EQ(seps[5], "\n###### ");
    EXPECT_EQ(seps[6], "```\n");
}

TEST(CodeLanguage, NamesInEnumerationOrder) {
    const char* names[] = {"rust", "python", "javascript", "typescript", "go", "cpp",
                           "java", "html", "sql", "markdown", "generic"};
    for (std::size_t i = 0; i < std::size(names); ++i) {
        const auto language = static_cast<CodeLanguage>(i);
        EXPECT_EQ(language_name(language), names[i]);
        EXPECT_EQ(code_language_from_name(names[i]), language);
    }
    EXPECT_EQ(code_language_from_name("C++"), CodeLanguage::Cpp);
    EXPECT_EQ(code_language_from_name("GOLANG"), CodeLanguage::Go);
    EXPECT_EQ(code_language_from_name("kotlin"), CodeLanguage::Generic);
}

TEST(Html, SixteenSeparatorsEndingWithTheFallbacks) {
    const std::vector<std::string> seps = html_separators();
    ASSERT_EQ(seps.size(), 16u);
    EXPECT_EQ(seps.front(), "\n<article");
    EXPECT_EQ(std::vector<std::string>(seps.end() - 4, seps.end()), kFallbacks);
}

TEST(Markdown, SectionsAreSlicesOfTheInput) {
    const std::string text = "intro\n# A\n```\n# no\n```\n## B\nx\n   \n# C";
    const std::vector<MarkdownSection> sections = scan_markdown_sections(text);
    ASSERT_EQ(sections.size(), 4u);
    for (const MarkdownSection& s : sections) {
        EXPECT_GE(s.content.data(), text.data());
        EXPECT_LE(s.content.data() + s.content.size(), text.data() + text.size());
    }
    EXPECT_EQ(sections[0].content, "intro");
    EXPECT_TRUE(sections[0].path.headings().empty());
    EXPECT_EQ(sections[1].content, "# A\n```\n# no\n```");
    EXPECT_TRUE(sections[1].has_code_block);
    // The section's content runs up to, not including, the line feed before the next heading.
    EXPECT_EQ(sections[2].content, "## B\nx\n   ");
    ASSERT_EQ(sections[2].path.headings().size(), 2u);
    EXPECT_EQ(sections[2].path.headings()[1].level, 2);
    EXPECT_EQ(sections[2].path.headings()[1].title, "B");
    EXPECT_EQ(sections[3].content, "# C");
}

TEST(Markdown, HeadingPathHoldsAtMostSixLevels) {
    std::string text;
    for (int round = 0; round < 50; ++round) {
        for (int level = 1; level <= 6; ++level) text += std::string(level, '#') + " t\n";
    }
    for (const MarkdownSection& s : scan_markdown_sections(text)) EXPECT_LE(s.path.headings().size(), 6u);
}

TEST(Hierarchical, SizesAreValidatedOnce) {
    EXPECT_FALSE(HierarchicalChunker::with_sizes(0, 0, 0, 0).has_value());
    const auto error = HierarchicalChunker::with_sizes(100, 0, 100, 0).error();
    EXPECT_EQ(error.kind(), SlivrError::Kind::Generic);
    EXPECT_EQ(error.message(), "Generic error: child_size must be smaller than parent_size");
    auto chunker = HierarchicalChunker::with_sizes(100, 0, 10, 0);
    ASSERT_TRUE(chunker.has_value());
    EXPECT_TRUE(chunker->include_parents());
    EXPECT_FALSE(std::move(*chunker).with_include_parents(false).include_parents());
}

TEST(Hierarchical, TreeNodesCarryIdsAndDepths) {
    const auto chunker = HierarchicalChunker::with_sizes(40, 0, 15, 0).value();
    const std::string text = " alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu ";
    const auto root = chunker.chunk_tree(text).value();
    EXPECT_EQ(root.id, "root");
    EXPECT_FALSE(root.parent_id.has_value());
    EXPECT_EQ(root.depth, 0u);
    EXPECT_EQ(root.document.content, text);
    ASSERT_GE(root.children.size(), 2u);
    const HierarchyNode& parent = root.children[1];
    EXPECT_EQ(parent.id, "parent-1");
    EXPECT_EQ(parent.parent_id, "root");
    EXPECT_EQ(parent.depth, 1u);
    ASSERT_GE(parent.children.size(), 2u);
    const HierarchyNode& child = parent.children[1];
    EXPECT_EQ(child.id, "parent-1-child-1");
    EXPECT_EQ(child.parent_id, "parent-1");
    EXPECT_EQ(child.depth, 2u);
    EXPECT_TRUE(child.children.empty());
    EXPECT_EQ(*child.document.metadata.find("depth"), Json(1u));
}
