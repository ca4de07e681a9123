#include "chunker/query_aware.hpp"
#include "python/classes.hpp"

namespace slivr::py {
namespace {

constexpr const char* kParams[] = {"query", "hotspot_sentences", "hotspot_overlap", "context_sentences",
                                   "relevance_threshold"};

std::unique_ptr<Chunker> build(PyObject* const* args) {
    const auto query = to_str("query", args[0]);
    if (!query) return nullptr;
    const auto hotspot_sentences = args[1] ? to_u64("hotspot_sentences", args[1]) : 2;
    if (!hotspot_sentences) return nullptr;
    const auto hotspot_overlap = args[2] ? to_u64("hotspot_overlap", args[2]) : 1;
    if (!hotspot_overlap) return nullptr;
    const auto context_sentences = args[3] ? to_u64("context_sentences", args[3]) : 5;
    if (!context_sentences) return nullptr;
    const auto relevance_threshold = args[4] ? to_f64("relevance_threshold", args[4]) : 0.1;
    if (!relevance_threshold) return nullptr;
    return std::make_unique<QueryAwareChunker>(std::string(*query), *hotspot_sentences, *hotspot_overlap,
                                               *context_sentences, *relevance_threshold);
}

// The sizes as the constructor adjusted them: building from them adjusts nothing further.
PyObject* arguments(const Chunker& chunker) {
    const auto& c = static_cast<const QueryAwareChunker&>(chunker);
    return reduce_args(std::string_view(c.query), c.hotspot_sentences, c.hotspot_overlap, c.context_sentences,
                       c.relevance_threshold);
}

}  // namespace

const ChunkerClass kQueryAwareChunkerClass{
    "QueryAwareChunker",
    "(query, hotspot_sentences=2, hotspot_overlap=1, context_sentences=5, relevance_threshold=0.1)",
    {"QueryAwareChunker", kParams, 1},
    build,
    nullptr,
    arguments};

}  // namespace slivr::py
