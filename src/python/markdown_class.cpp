#include "chunker/markdown.hpp"
#include "python/classes.hpp"

namespace slivr::py {
namespace {

constexpr const char* kParams[] = {"chunk_size", "overlap"};

std::unique_ptr<Chunker> build(PyObject* const* args) {
    const auto chunk_size = args[0] ? to_u64("chunk_size", args[0]) : 1000;
    if (!chunk_size) return nullptr;
    const auto overlap = args[1] ? to_u64("overlap", args[1]) : 150;
    if (!overlap) return nullptr;
    return std::make_unique<MarkdownChunker>(*chunk_size, *overlap);
}

PyObject* arguments(const Chunker& chunker) {
    const auto& c = static_cast<const MarkdownChunker&>(chunker);
    return reduce_args(c.chunk_size, c.overlap);
}

}  // namespace

const ChunkerClass kMarkdownChunkerClass{"MarkdownChunker",
                                         "(chunk_size=1000, overlap=150)",
                                         {"MarkdownChunker", kParams, 0},
                                         build,
                                         nullptr,
                                         arguments};

}  // namespace slivr::py
