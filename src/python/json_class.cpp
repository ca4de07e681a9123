#include "chunker/json.hpp"
#include "python/classes.hpp"

namespace slivr::py {
namespace {

constexpr const char* kParams[] = {"max_size"};

std::unique_ptr<Chunker> build(PyObject* const* args) {
    const auto max_size = args[0] ? to_u64("max_size", args[0]) : 1500;
    if (!max_size) return nullptr;
    return std::make_unique<JsonChunker>(*max_size);
}

PyObject* arguments(const Chunker& chunker) {
    return reduce_args(static_cast<const JsonChunker&>(chunker).max_size);
}

}  // namespace

const ChunkerClass kJsonChunkerClass{"JsonChunker",
                                     "(max_size=1500)",
                                     {"JsonChunker", kParams, 0},
                                     build,
                                     nullptr,
                                     arguments};

}  // namespace slivr::py
