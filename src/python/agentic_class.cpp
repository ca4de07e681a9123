#include "chunker/agentic.hpp"
#include "python/classes.hpp"

namespace slivr::py {
namespace {

constexpr const char* kParams[] = {"min_chars", "max_chars"};

std::unique_ptr<Chunker> build(PyObject* const* args) {
    const auto min_chars = args[0] ? to_u64("min_chars", args[0]) : 150;
    if (!min_chars) return nullptr;
    const auto max_chars = args[1] ? to_u64("max_chars", args[1]) : 1200;
    if (!max_chars) return nullptr;
    return std::make_unique<AgenticChunker>(AgenticChunker().with_decision_maker(
        std::make_shared<const HeuristicAgenticDecisionMaker>(*max_chars, *min_chars)));
}

// The decision maker is always the heuristic one with the constructor's two sizes.
PyObject* arguments(const Chunker& chunker) {
    const auto* maker = dynamic_cast<const HeuristicAgenticDecisionMaker*>(
        static_cast<const AgenticChunker&>(chunker).decision_maker().get());
    if (maker == nullptr) return PyErr_Format(PyExc_TypeError, "cannot pickle this AgenticChunker");
    return reduce_args(maker->min_chars, maker->max_chars);
}

}  // namespace

const ChunkerClass kAgenticChunkerClass{"AgenticChunker",
                                        "(min_chars=150, max_chars=1200)",
                                        {"AgenticChunker", kParams, 0},
                                        build,
                                        nullptr,
                                        arguments};

}  // namespace slivr::py
