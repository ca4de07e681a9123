// The contextual chunker's native interfaces: the three content modes, other base chunkers (with a
// section in their metadata) and other context generators.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "chunker/char.hpp"
#include "chunker/contextual.hpp"
#include "chunker/recursive.hpp"

using namespace slivr;

namespace {

// Cuts the text at line feeds and gives every chunk the "header_path" it was built with.
class SectionChunker final : public Chunker {
public:
    explicit SectionChunker(Json header_path) : header_path_(std::move(header_path)) {}
    Result<Documents> chunk(std::string_view text) const override {
        Documents out;
        std::size_t pos = 0;
        while (pos <= text.size()) {
            const std::size_t end = std::min(text.find('\n', pos), text.size());
            Document d{std::string(text.substr(pos, end - pos))};
            d.metadata.set("header_path", header_path_);
            d.metadata.set("length", Json(std::uint64_t{999}));
            out.push_back(std::move(d));
            pos = end + 1;
        }
        return out;
    }

private:
    Json header_path_;
};

// Describes a chunk by its position only, or fails at a given position.
class PositionGenerator final : public ContextGenerator {
public:
    explicit PositionGenerator(std::size_t fail_at = SIZE_MAX) : fail_at_(fail_at) {}
    Result<std::string> generate_context(std::string_view, const Document& chunk, std::size_t index,
                                         std::size_t total) const override {
        if (index == fail_at_) return fail(SlivrError::generic("no context for " + chunk.content));
        return std::to_string(index) + " of " + std::to_string(total);
    }

private:
    std::size_t fail_at_;
};

Documents chunk(const ContextualChunker& c, std::string_view text) {
    auto r = c.chunk(text);
    EXPECT_TRUE(r.has_value()) << r.error().message();
    return r ? std::move(*r) : Documents{};
}

std::string context_of(const Document& d) { return d.metadata.find("context")->get<std::string>(); }
std::uint64_t length_of(const Document& d) { return d.metadata.find("length")->get<std::uint64_t>(); }

}  // namespace

TEST(Contextual, DefaultsArePrefixModeOverARecursiveChunker) {
    const ContextualChunker c;
    EXPECT_EQ(c.content_mode().kind(), ContentMode::Kind::Prefix);
    const auto* base = dynamic_cast<const RecursiveChunker*>(c.base_chunker().get());
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(base->chunk_size, 1000u);
    EXPECT_EQ(base->overlap, 200u);
    const auto* generator = dynamic_cast<const ExtractiveContextGenerator*>(c.context_generator().get());
    ASSERT_NE(generator, nullptr);
    EXPECT_EQ(generator->max_context_chars, 200u);
}

TEST(Contextual, ContentModes) {
    const std::string text = "# Guide\nBody text.";
    const auto prefix = chunk(ContextualChunker(), text);
    ASSERT_EQ(prefix.size(), 1u);
    EXPECT_EQ(prefix[0].content, "[Context: Doc: Guide | Part 1/1]\n\n# Guide\nBody text.");
    EXPECT_EQ(length_of(prefix[0]), prefix[0].content.size());

    const auto plain = chunk(ContextualChunker().with_content_mode(ContentMode::metadata_only()), text);
    EXPECT_EQ(plain[0].content, text);
    EXPECT_EQ(context_of(plain[0]), "Doc: Guide | Part 1/1");
    EXPECT_EQ(length_of(plain[0]), text.size());

    const auto templated = chunk(
        ContextualChunker().with_content_mode(ContentMode::with_template("<{context}> {content} / {context}")), text);
    EXPECT_EQ(templated[0].content, "<Doc: Guide | Part 1/1> # Guide\nBody text. / Doc: Guide | Part 1/1");
    EXPECT_EQ(length_of(templated[0]), templated[0].content.size());
}

TEST(Contextual, TemplateReplacesTheContextFirst) {
    // A "{content}" inside the context is replaced too; a "{context}" inside the content is not.
    const ContentMode mode = ContentMode::with_template("[{context}] {content}");
    EXPECT_EQ(mode.apply("body {context}", "title {content}"), "[title body {context}] body {context}");
    EXPECT_EQ(ContentMode::with_template("no placeholders").apply("c", "x"), "no placeholders");
    EXPECT_EQ(ContentMode::with_template("{content}{content}").apply("ab", "x"), "abab");
}

TEST(Contextual, SectionComesFromANonEmptyStringHeaderPath) {
    const std::string text = "Title line\nsecond";
    struct Case {
        Json header_path;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {Json("Intro > Setup"), "Doc: Title line | Section: Intro > Setup | Part 2/2"},
        {Json(""), "Doc: Title line | Part 2/2"},
        {Json(42), "Doc: Title line | Part 2/2"},
        {Json::array({"a", "b"}), "Doc: Title line | Part 2/2"},
        {Json(nullptr), "Doc: Title line | Part 2/2"},
    };
    for (const Case& c : cases) {
        const auto chunks = chunk(ContextualChunker()
                                      .with_base_chunker(std::make_shared<const SectionChunker>(c.header_path))
                                      .with_content_mode(ContentMode::metadata_only()),
                                  text);
        ASSERT_EQ(chunks.size(), 2u);
        EXPECT_EQ(context_of(chunks[1]), c.expected) << c.header_path.dump();
        // The base chunker's own keys stay, except "length", which describes the final content.
        EXPECT_EQ(*chunks[1].metadata.find("header_path"), c.header_path);
        EXPECT_EQ(length_of(chunks[1]), chunks[1].content.size());
    }
}

TEST(Contextual, OtherGeneratorsAndTheirErrors) {
    const auto base = std::make_shared<const CharacterChunker>(4, 0);
    const auto chunks = chunk(ContextualChunker()
                                  .with_base_chunker(base)
                                  .with_context_generator(std::make_shared<const PositionGenerator>()),
                              "abcdefghij");
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[2].content, "[Context: 2 of 3]\n\nij");

    const auto failing = ContextualChunker()
                             .with_base_chunker(base)
                             .with_context_generator(std::make_shared<const PositionGenerator>(1));
    EXPECT_EQ(failing.chunk("abcdefghij").error().message(), "Generic error: no context for efgh");

    // Errors of the base chunker come through unchanged.
    const auto bad = ContextualChunker().with_base_chunker(std::make_shared<const CharacterChunker>(0, 0));
    EXPECT_EQ(bad.chunk("text").error(), SlivrError::invalid_chunk_size(0));
    EXPECT_EQ(bad.chunk(" \n").error(), SlivrError::empty_input());
}

TEST(Contextual, OneBaseChunkerServesSeveralContextualChunkers) {
    auto base = std::make_shared<RecursiveChunker>();
    base->chunk_size = 10;
    base->overlap = 0;
    const std::shared_ptr<const Chunker> shared = std::move(base);
    const auto a = ContextualChunker().with_base_chunker(shared);
    const auto b = ContextualChunker().with_base_chunker(shared).with_content_mode(ContentMode::metadata_only());
    EXPECT_EQ(shared.use_count(), 3);
    EXPECT_EQ(chunk(a, "alpha beta gamma").size(), chunk(b, "alpha beta gamma").size());
}

TEST(ExtractiveContext, TitleIsTheFirstLineWithTextAfterLeadingHashes) {
    struct Case {
        std::string text;
        std::string title;
    };
    const std::vector<Case> cases = {
        {"# Title\nbody", "Title"},
        {"Title\nbody", "Title"},
        {"\n  \r\n### \n##  Deep title ##  \r\nbody", "Deep title ##"},
        {"#\n##\n  # #\nx", "#"},  // "# #" loses its leading '#', then " #" is trimmed to "#"
        {"#\n \n##", "Document"},
        {"last line without feed", "last line without feed"},
        {"\u3000Wide\u3000\n", "Wide"},
    };
    for (const Case& c : cases) EXPECT_EQ(ExtractiveContextGenerator::title_of(c.text), c.title) << c.text;
}

TEST(ExtractiveContext, TruncatesToWholeCharacters) {
    const Document chunk{"x"};
    const std::string text = "Überblick über alles";
    EXPECT_EQ(*ExtractiveContextGenerator(7).generate_context(text, chunk, 0, 1), "Doc: Üb");
    EXPECT_EQ(*ExtractiveContextGenerator(0).generate_context(text, chunk, 0, 1), "");
    EXPECT_EQ(*ExtractiveContextGenerator(1000).generate_context(text, chunk, 11, 12),
              "Doc: Überblick über alles | Part 12/12");
    // The per-text form gives the same texts.
    const std::vector<Document> chunks(3, chunk);
    const auto all = ExtractiveContextGenerator(200).generate_contexts(text, chunks);
    ASSERT_TRUE(all.has_value());
    EXPECT_EQ((*all)[1], *ExtractiveContextGenerator(200).generate_context(text, chunk, 1, 3));
}
