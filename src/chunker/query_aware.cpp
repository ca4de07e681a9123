#include "chunker/query_aware.hpp"

#include <algorithm>
#include <cmath>
#include <span>

#include "chunker/sentence.hpp"
#include "text/join.hpp"
#include "text/unicode.hpp"

namespace slivr {
namespace {

constexpr std::size_t kShortestTerm = 2;

Json terms_json(const terms::TermSet& terms) {
    Json array = Json::array();
    for (std::size_t i = 0; i < terms.size(); ++i) array.push_back(std::string(terms[i]));
    return array;
}

}  // namespace

double round_score(double score) { return std::round(score * 1000.0) / 1000.0; }

QueryAwareChunker::QueryAwareChunker(std::string query_, std::uint64_t hs, std::uint64_t ho, std::uint64_t cs,
                                     double threshold)
    : query(std::move(query_)),
      hotspot_sentences(hs == 0 ? 1 : hs),
      hotspot_overlap(hs == 0 ? 0 : std::min(ho, hs - 1)),
      context_sentences(cs == 0 ? 1 : cs),
      context_overlap(cs > 1 ? 1 : 0),
      relevance_threshold(threshold),
      lower_query_(text::to_lower(query)) {
    std::string scratch;
    terms::for_each_normalized_word(query, scratch, [&](std::string_view term) {
        if (term.size() >= kShortestTerm) terms_.insert(term);
    });
}

SentenceScore QueryAwareChunker::score_sentence(std::string_view sentence, const terms::TermSet& query_terms) const {
    std::string lower;
    return score_sentence(sentence, query_terms, lower);
}

SentenceScore QueryAwareChunker::score_sentence(std::string_view sentence, const terms::TermSet& query_terms,
                                                std::string& lower) const {
    SentenceScore result;
    std::size_t words = 0;
    std::size_t hits = 0;
    terms::TermSet matched;
    terms::for_each_normalized_word(sentence, lower, [&](std::string_view word) {
        if (word.empty()) return;
        ++words;
        if (!query_terms.contains(word)) return;
        ++hits;
        matched.insert(word);
    });
    if (words == 0 || query_terms.empty()) return result;
    result.matched_terms.reserve(matched.size());
    for (std::size_t i = 0; i < matched.size(); ++i) result.matched_terms.emplace_back(matched[i]);
    // `lower` still holds the lower-cased sentence.
    const double bonus = lower.find(lower_query_) != std::string::npos ? 0.5 : 0.0;
    result.score = std::min(static_cast<double>(hits) / static_cast<double>(words) + bonus, 1.0);
    return result;
}

Result<Documents> QueryAwareChunker::chunk(std::string_view text) const {
    if (text::is_blank(text)) return fail(SlivrError::empty_input());
    const std::vector<std::string_view> sentences = split_sentences(text);
    if (sentences.empty()) return fail(SlivrError::empty_input());
    std::vector<SentenceScore> scores;
    scores.reserve(sentences.size());
    std::string lower;
    for (const std::string_view s : sentences) scores.push_back(score_sentence(s, terms_, lower));

    Documents out;
    const std::size_t n = sentences.size();
    std::size_t i = 0;
    while (true) {
        const bool hotspot = scores[i].score >= relevance_threshold;
        const std::uint64_t width = hotspot ? hotspot_sentences : context_sentences;
        const std::uint64_t step = hotspot ? hotspot_sentences - hotspot_overlap : context_sentences - context_overlap;
        const bool last = width >= n - i;
        const std::size_t end = last ? n : i + static_cast<std::size_t>(width);

        double best = 0.0;
        terms::TermSet matched;
        for (std::size_t j = i; j < end; ++j) {
            best = std::max(best, scores[j].score);
            for (const std::string& t : scores[j].matched_terms) matched.insert(t);
        }
        Document doc{text::join(std::span(sentences).subspan(i, end - i), " ")};
        Metadata& m = doc.metadata;
        m.reserve(7);
        m.insert_new("length", Json(static_cast<std::uint64_t>(doc.content.size())));
        m.insert_new("chunk_index", Json(static_cast<std::uint64_t>(out.size())));
        m.insert_new("query", Json(query));
        m.insert_new("is_hotspot", Json(hotspot));
        m.insert_new("chunk_type", Json(hotspot ? "hotspot" : "context"));
        m.insert_new("relevance_score", Json(round_score(best)));
        m.insert_new("matched_terms", terms_json(matched));
        out.push_back(std::move(doc));
        if (last) break;
        i += static_cast<std::size_t>(std::max<std::uint64_t>(step, 1));
    }
    return out;
}

}  // namespace slivr
