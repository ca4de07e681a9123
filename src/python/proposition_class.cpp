#include "chunker/proposition.hpp"
#include "python/classes.hpp"

namespace slivr::py {
namespace {

constexpr const char* kParams[] = {"propositions_per_chunk", "overlap"};

std::unique_ptr<Chunker> build(PyObject* const* args) {
    const auto propositions_per_chunk = args[0] ? to_u64("propositions_per_chunk", args[0]) : 1;
    if (!propositions_per_chunk) return nullptr;
    const auto overlap = args[1] ? to_u64("overlap", args[1]) : 0;
    if (!overlap) return nullptr;
    auto chunker = PropositionChunker::create(std::make_shared<const SyntacticPropositionExtractor>(),
                                              *propositions_per_chunk, *overlap);
    if (!chunker) {
        raise_error(chunker.error());
        return nullptr;
    }
    return std::make_unique<PropositionChunker>(std::move(*chunker));
}

PyObject* arguments(const Chunker& chunker) {
    const auto& c = static_cast<const PropositionChunker&>(chunker);
    return reduce_args(c.propositions_per_chunk(), c.overlap());
}

}  // namespace

const ChunkerClass kPropositionChunkerClass{"PropositionChunker",
                                            "(propositions_per_chunk=1, overlap=0)",
                                            {"PropositionChunker", kParams, 0},
                                            build,
                                            nullptr,
                                            arguments};

}  // namespace slivr::py
