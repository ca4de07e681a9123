// Chunks for one known query: sentences are scored by the query words they contain (plus a bonus
// for the whole query as a phrase), and windows that start at a relevant sentence ("hotspots") are
// short and overlap tightly, while the text around them goes into longer context windows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "chunker/base.hpp"
#include "chunker/terms.hpp"

namespace slivr {

struct SentenceScore {
    double score = 0.0;                       // between 0 and 1
    std::vector<std::string> matched_terms;   // each once, in order of first appearance
};

class QueryAwareChunker final : public Chunker {
public:
    // Adjusts the requested sizes so that every window advances: a hotspot or context size of 0
    // becomes 1, the hotspot overlap is kept below the hotspot size, and context windows overlap
    // by one sentence when they hold more than one.
    QueryAwareChunker(std::string query, std::uint64_t hotspot_sentences, std::uint64_t hotspot_overlap,
                      std::uint64_t context_sentences, double relevance_threshold);

    Result<Documents> chunk(std::string_view text) const override;

    // The share of the sentence's words that are query terms (repeats count), plus 0.5 when the
    // sentence contains the whole query, at most 1; 0 without words or without terms.
    SentenceScore score_sentence(std::string_view sentence, const terms::TermSet& query_terms) const;

    // The query's words, normalised (lower-cased, stripped of non-alphanumeric characters at both
    // ends), that are at least 2 bytes long.
    const terms::TermSet& query_terms() const { return terms_; }

    const std::string query;
    const std::uint64_t hotspot_sentences;
    const std::uint64_t hotspot_overlap;
    const std::uint64_t context_sentences;
    const std::uint64_t context_overlap;
    const double relevance_threshold;

private:
    // The score of `sentence`; appends the positions in `query_terms` of the terms it matches, each
    // once, in order of first appearance, to `matched`. `lower` is scratch space and `seen` holds
    // a serial number per term (query_terms.size() of them), `serial` one not used before in it.
    double score_into(std::string_view sentence, const terms::TermSet& query_terms, std::string& lower,
                      std::vector<std::uint64_t>& seen, std::uint64_t serial,
                      std::vector<std::uint32_t>& matched) const;

    std::string lower_query_;
    terms::TermSet terms_;
};

// `score` rounded to three decimals, halves away from zero.
double round_score(double score);

}  // namespace slivr
