// Native-only interfaces of the core: error messages, metadata maps, the window rule, the pool.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "chunker/base.hpp"
#include "chunker/window.hpp"
#include "error/error.hpp"
#include "parallel/pool.hpp"
#include "structures/document.hpp"

using namespace slivr;

TEST(SlivrError, MessagesFollowTheirTemplates) {
    const std::vector<std::pair<SlivrError, std::string>> cases = {
        {SlivrError::empty_input(), "Empty input text provided"},
        {SlivrError::invalid_chunk_size(0), "Invalid chunk size: 0 (must be > 0)"},
        {SlivrError::invalid_chunk_overlap(100, 150),
         "Invalid chunk overlap: 150 (must be strictly less than chunk_size 100)"},
        {SlivrError::tokenizer(""), "Tokenizer error: "},
        {SlivrError::document_parse("bad xref"), "Document parse error: bad xref"},
        {SlivrError::io("gone"), "IO error: gone"},
        {SlivrError::generic("child_size must be smaller than parent_size"),
         "Generic error: child_size must be smaller than parent_size"},
        {SlivrError::invalid_chunk_size(18446744073709551615ULL),
         "Invalid chunk size: 18446744073709551615 (must be > 0)"},
    };
    for (const auto& [error, message] : cases) EXPECT_EQ(error.message(), message);
}

TEST(Metadata, LastWriteWinsAndComparisonIgnoresOrder) {
    Metadata a;
    a.set("k", Json(1u));
    a.set("other", Json("x"));
    a.set("k", Json(2u));
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(*a.find("k"), Json(2u));
    Metadata b;
    b.set("other", Json("x"));
    b.set("k", Json(2u));
    EXPECT_EQ(a, b);
    b.set("k", Json(3u));
    EXPECT_FALSE(a == b);
}

TEST(Metadata, NestedObjectsIterateInKeyOrder) {
    Json object = Json::object();
    object["b"] = 1;
    object["a"] = 2;
    object["c"] = 3;
    std::string keys;
    for (const auto& [key, value] : object.items()) keys += key;
    EXPECT_EQ(keys, "abc");
}

TEST(Metadata, MergeMissingKeepsOwnValuesAndCopiesTheRest) {
    Metadata chunk;
    chunk.set("length", Json(4u));
    Metadata source;
    source.set("length", Json(-1));
    source.set("file", Json("a.txt"));
    source.set("tags", Json::array({"x", "y"}));
    chunk.merge_missing(source);
    EXPECT_EQ(chunk.size(), 3u);
    EXPECT_EQ(*chunk.find("length"), Json(4u));
    EXPECT_EQ(*chunk.find("tags"), Json::array({"x", "y"}));
}

std::vector<std::pair<std::size_t, std::size_t>> windows(std::size_t n, std::uint64_t size, std::uint64_t overlap) {
    std::vector<std::pair<std::size_t, std::size_t>> out;
    for_each_window(n, size, overlap, [&](std::size_t s, std::size_t e) { out.emplace_back(s, e); });
    return out;
}

TEST(Window, FollowsTheStepAndStopsAtTheEnd) {
    using W = std::vector<std::pair<std::size_t, std::size_t>>;
    EXPECT_EQ(windows(10, 4, 1), (W{{0, 4}, {3, 7}, {6, 10}}));
    EXPECT_EQ(windows(10, 4, 0), (W{{0, 4}, {4, 8}, {8, 10}}));
    EXPECT_EQ(windows(3, 10, 2), (W{{0, 3}}));
    EXPECT_EQ(windows(0, 4, 1), W{});
    EXPECT_EQ(windows(5, UINT64_MAX, UINT64_MAX - 1), (W{{0, 5}}));
}

class FailingChunker final : public Chunker {
public:
    Result<Documents> chunk(std::string_view text) const override {
        if (text.starts_with("fail")) return fail(SlivrError::generic(std::string(text)));
        Documents out;
        out.emplace_back(std::string(text));
        return out;
    }
};

TEST(Batch, ParallelFailureReturnsTheOnlyErrorAndNoResults) {
    FailingChunker chunker;
    std::vector<std::string_view> texts(1000, "fine");
    texts[637] = "fail 637";
    auto result = chunker.par_chunk_texts(texts);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message(), "Generic error: fail 637");
    texts[637] = "ok";
    auto good = chunker.par_chunk_texts(texts);
    ASSERT_TRUE(good);
    EXPECT_EQ((*good)[637][0].content, "ok");
}

TEST(Pool, VisitsEveryIndexOnceAndStopsEarly) {
    std::vector<std::atomic<int>> seen(10000);
    parallel::for_each_index(seen.size(), [&](std::size_t i) {
        seen[i].fetch_add(1);
        return true;
    });
    for (const auto& s : seen) ASSERT_EQ(s.load(), 1);

    std::atomic<std::size_t> visited{0};
    parallel::for_each_index(1'000'000, [&](std::size_t i) {
        visited.fetch_add(1);
        return i != 10;
    });
    EXPECT_LT(visited.load(), 1'000'000u);
    EXPECT_GE(parallel::worker_count(), 1u);
}
