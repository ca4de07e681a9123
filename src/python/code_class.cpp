#include "chunker/code.hpp"
#include "python/classes.hpp"

namespace slivr::py {
namespace {

constexpr const char* kParams[] = {"language", "chunk_size", "overlap"};

std::unique_ptr<Chunker> build(PyObject* const* args) {
    const auto name = args[0] ? to_str("language", args[0]) : std::string_view("rust");
    if (!name) return nullptr;
    const auto chunk_size = args[1] ? to_u64("chunk_size", args[1]) : 1500;
    if (!chunk_size) return nullptr;
    const auto overlap = args[2] ? to_u64("overlap", args[2]) : 200;
    if (!overlap) return nullptr;
    return std::make_unique<CodeChunker>(code_language_from_name(*name), *chunk_size, *overlap);
}

PyObject* arguments(const Chunker& chunker) {
    const auto& c = static_cast<const CodeChunker&>(chunker);
    return reduce_args(language_name(c.language), c.chunk_size, c.overlap);
}

}  // namespace

const ChunkerClass kCodeChunkerClass{"CodeChunker",
                                     "(language=\"rust\", chunk_size=1500, overlap=200)",
                                     {"CodeChunker", kParams, 0},
                                     build,
                                     nullptr,
                                     arguments};

}  // namespace slivr::py
