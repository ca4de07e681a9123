// Sentences broken into propositions (short statements of one fact each) by fixed surface
// patterns, then grouped a fixed number of propositions per chunk.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "chunker/base.hpp"

namespace slivr {

// Turns one sentence into its propositions, in order. Implementations are immutable and callable
// from several threads at once.
class PropositionExtractor {
public:
    virtual ~PropositionExtractor() = default;
    virtual Result<std::vector<std::string>> extract_propositions(std::string_view sentence) const = 0;
};

// Cuts a sentence at its first non-restrictive relative clause (", which " and the like) or at a
// coordinating marker ("; ", ", and ", ...), repeating the subject before a clause that starts
// with a verb; a sentence that matches no pattern stays whole. Never fails.
class SyntacticPropositionExtractor final : public PropositionExtractor {
public:
    Result<std::vector<std::string>> extract_propositions(std::string_view sentence) const override;
};

class PropositionChunker final : public Chunker {
public:
    // Fails when `propositions_per_chunk` is 0 or `overlap` is not below it.
    static Result<PropositionChunker> create(std::shared_ptr<const PropositionExtractor> extractor,
                                             std::uint64_t propositions_per_chunk, std::uint64_t overlap);

    Result<Documents> chunk(std::string_view text) const override;

    const std::shared_ptr<const PropositionExtractor>& extractor() const { return extractor_; }
    std::uint64_t propositions_per_chunk() const { return propositions_per_chunk_; }
    std::uint64_t overlap() const { return overlap_; }

private:
    PropositionChunker(std::shared_ptr<const PropositionExtractor> extractor, std::uint64_t propositions_per_chunk,
                       std::uint64_t overlap)
        : extractor_(std::move(extractor)), propositions_per_chunk_(propositions_per_chunk), overlap_(overlap) {}

    std::shared_ptr<const PropositionExtractor> extractor_;
    std::uint64_t propositions_per_chunk_;
    std::uint64_t overlap_;
};

}  // namespace slivr
