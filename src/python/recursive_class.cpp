#include "chunker/recursive.hpp"
#include "python/classes.hpp"

namespace slivr::py {
namespace {

constexpr const char* kParams[] = {"chunk_size", "overlap", "separators"};

std::unique_ptr<Chunker> build(PyObject* const* args) {
    auto chunker = std::make_unique<RecursiveChunker>();
    if (args[0]) {
        const auto chunk_size = to_u64("chunk_size", args[0]);
        if (!chunk_size) return nullptr;
        chunker->chunk_size = *chunk_size;
    }
    if (args[1]) {
        const auto overlap = to_u64("overlap", args[1]);
        if (!overlap) return nullptr;
        chunker->overlap = *overlap;
    }
    if (args[2] && args[2] != Py_None) {
        auto separators = to_strings("separators", args[2]);
        if (!separators) return nullptr;
        chunker->separators = std::move(*separators);
    }
    return chunker;
}

PyObject* arguments(const Chunker& chunker) {
    const auto& c = static_cast<const RecursiveChunker&>(chunker);
    return reduce_args(c.chunk_size, c.overlap, c.separators);
}

}  // namespace

const ChunkerClass kRecursiveChunkerClass{"RecursiveChunker",
                                          "(chunk_size=1000, overlap=200, separators=None)",
                                          {"RecursiveChunker", kParams, 0},
                                          build,
                                          nullptr,
                                          arguments};

}  // namespace slivr::py
