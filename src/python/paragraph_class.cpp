#include "chunker/sentence.hpp"
#include "python/classes.hpp"

namespace slivr::py {
namespace {

constexpr const char* kParams[] = {"paragraphs_per_chunk", "overlap"};

std::unique_ptr<Chunker> build(PyObject* const* args) {
    const auto paragraphs_per_chunk = args[0] ? to_u64("paragraphs_per_chunk", args[0]) : 2;
    if (!paragraphs_per_chunk) return nullptr;
    const auto overlap = args[1] ? to_u64("overlap", args[1]) : 0;
    if (!overlap) return nullptr;
    return std::make_unique<ParagraphChunker>(*paragraphs_per_chunk, *overlap);
}

PyObject* arguments(const Chunker& chunker) {
    const auto& c = static_cast<const ParagraphChunker&>(chunker);
    return reduce_args(c.paragraphs_per_chunk, c.overlap);
}

}  // namespace

const ChunkerClass kParagraphChunkerClass{"ParagraphChunker",
                                          "(paragraphs_per_chunk=2, overlap=0)",
                                          {"ParagraphChunker", kParams, 0},
                                          build,
                                          nullptr,
                                          arguments};

}  // namespace slivr::py
