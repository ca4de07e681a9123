#include "chunker/sentence.hpp"
#include "python/classes.hpp"

namespace slivr::py {
namespace {

constexpr const char* kParams[] = {"sentences_per_chunk", "overlap", "max_characters"};

std::unique_ptr<Chunker> build(PyObject* const* args) {
    const auto sentences_per_chunk = args[0] ? to_u64("sentences_per_chunk", args[0]) : 3;
    if (!sentences_per_chunk) return nullptr;
    const auto overlap = args[1] ? to_u64("overlap", args[1]) : 1;
    if (!overlap) return nullptr;
    std::optional<std::uint64_t> max_characters;
    if (!to_optional_u64("max_characters", args[2], max_characters)) return nullptr;
    return std::make_unique<SentenceChunker>(*sentences_per_chunk, *overlap, max_characters);
}

PyObject* arguments(const Chunker& chunker) {
    const auto& c = static_cast<const SentenceChunker&>(chunker);
    return reduce_args(c.sentences_per_chunk, c.overlap, c.max_characters);
}

}  // namespace

const ChunkerClass kSentenceChunkerClass{"SentenceChunker",
                                         "(sentences_per_chunk=3, overlap=1, max_characters=None)",
                                         {"SentenceChunker", kParams, 0},
                                         build,
                                         nullptr,
                                         arguments};

}  // namespace slivr::py
