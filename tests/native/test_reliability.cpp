// An exception thrown while the pool runs an item (in practice std::bad_alloc) reaches the calling
// thread instead of ending the process, and the pool keeps serving later calls.
#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "chunker/base.hpp"
#include "parallel/pool.hpp"

using namespace slivr;

namespace {

// Runs out of memory on the text "boom" and chunks every other text into one document.
class ThrowingChunker final : public Chunker {
public:
    Result<Documents> chunk(std::string_view text) const override {
        if (text == "boom") throw std::bad_alloc();
        Documents out;
        out.emplace_back(std::string(text));
        return out;
    }
};

}  // namespace

TEST(PoolExceptions, ReachTheCallerAndStopTheCall) {
    std::atomic<std::size_t> visited{0};
    EXPECT_THROW(parallel::for_each_index(100'000,
                                          [&](std::size_t i) {
                                              visited.fetch_add(1);
                                              if (i == 50) throw std::runtime_error("item 50");
                                              return true;
                                          }),
                 std::runtime_error);
    EXPECT_LT(visited.load(), 100'000u);

    std::atomic<std::size_t> after{0};
    parallel::for_each_index(1000, [&](std::size_t) {
        after.fetch_add(1);
        return true;
    });
    EXPECT_EQ(after.load(), 1000u);
}

TEST(PoolExceptions, EveryItemThrowingStillEndsTheCall) {
    EXPECT_THROW(parallel::for_each_index(64, [](std::size_t) -> bool { throw std::bad_alloc(); }),
                 std::bad_alloc);
}

TEST(PoolExceptions, ParallelBatchesPassAllocationFailuresOn) {
    const ThrowingChunker chunker;
    std::vector<std::string_view> texts(500, "fine");
    texts[321] = "boom";
    EXPECT_THROW((void)chunker.par_chunk_texts(std::span<const std::string_view>(texts)), std::bad_alloc);

    std::vector<Document> docs;
    for (std::string_view text : texts) docs.emplace_back(std::string(text));
    EXPECT_THROW((void)chunker.par_chunk_documents(std::span<const Document>(docs)), std::bad_alloc);

    texts[321] = "fine";
    const auto good = chunker.par_chunk_texts(std::span<const std::string_view>(texts));
    ASSERT_TRUE(good);
    EXPECT_EQ(good->size(), 500u);
    EXPECT_EQ((*good)[321][0].content, "fine");
}
