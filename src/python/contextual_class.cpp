#include "chunker/contextual.hpp"
#include "chunker/recursive.hpp"
#include "python/classes.hpp"

namespace slivr::py {
namespace {

constexpr const char* kParams[] = {"chunk_size", "overlap", "max_context_chars"};

std::unique_ptr<Chunker> build(PyObject* const* args) {
    const auto chunk_size = args[0] ? to_u64("chunk_size", args[0]) : 1000;
    if (!chunk_size) return nullptr;
    const auto overlap = args[1] ? to_u64("overlap", args[1]) : 200;
    if (!overlap) return nullptr;
    const auto max_context_chars = args[2] ? to_u64("max_context_chars", args[2]) : 200;
    if (!max_context_chars) return nullptr;
    auto base = std::make_shared<RecursiveChunker>();
    base->chunk_size = *chunk_size;
    base->overlap = *overlap;
    return std::make_unique<ContextualChunker>(
        ContextualChunker()
            .with_base_chunker(std::move(base))
            .with_context_generator(std::make_shared<const ExtractiveContextGenerator>(*max_context_chars)));
}

// The base chunker and the generator are always those the constructor builds.
PyObject* arguments(const Chunker& chunker) {
    const auto& c = static_cast<const ContextualChunker&>(chunker);
    const auto* base = dynamic_cast<const RecursiveChunker*>(c.base_chunker().get());
    const auto* generator = dynamic_cast<const ExtractiveContextGenerator*>(c.context_generator().get());
    if (base == nullptr || generator == nullptr) {
        return PyErr_Format(PyExc_TypeError, "cannot pickle this ContextualChunker");
    }
    return reduce_args(base->chunk_size, base->overlap, generator->max_context_chars);
}

}  // namespace

const ChunkerClass kContextualChunkerClass{"ContextualChunker",
                                           "(chunk_size=1000, overlap=200, max_context_chars=200)",
                                           {"ContextualChunker", kParams, 0},
                                           build,
                                           nullptr,
                                           arguments};

}  // namespace slivr::py
