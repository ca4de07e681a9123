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
    std::vector<std::uint64_t> seen(query_terms.size(), 0);
    std::vector<std::uint32_t> matched;
    SentenceScore result;
    result.score = score_into(sentence, query_terms, lower, seen, 1, matched);
    for (const std::uint32_t t : matched) result.matched_terms.emplace_back(query_terms[t]);
    return result;
}

double QueryAwareChunker::score_into(std::string_view sentence, const terms::TermSet& query_terms, std::string& lower,
                                     std::vector<std::uint64_t>& seen, std::uint64_t serial,
                                     std::vector<std::uint32_t>& matched) const {
    std::size_t words = 0;
    std::size_t hits = 0;
    const std::size_t matched_before = matched.size();
    terms::for_each_normalized_word(sentence, lower, [&](std::string_view word) {
        if (word.empty()) return;
        ++words;
        const std::size_t t = query_terms.find(word);
        if (t == std::string_view::npos) return;
        ++hits;
        if (seen[t] == serial) return;
        seen[t] = serial;
        matched.push_back(static_cast<std::uint32_t>(t));
    });
    if (words == 0 || query_terms.empty()) {
        matched.resize(matched_before);
        return 0.0;
    }
    // `lower` still holds the lower-cased sentence.
    const double bonus = lower.find(lower_query_) != std::string::npos ? 0.5 : 0.0;
    return std::min(static_cast<double>(hits) / static_cast<double>(words) + bonus, 1.0);
}

Result<Documents> QueryAwareChunker::chunk(std::string_view text) const {
    if (text::is_blank(text)) return fail(SlivrError::empty_input());
    const std::vector<std::string_view> sentences = split_sentences(text);
    if (sentences.empty()) return fail(SlivrError::empty_input());

    // Per sentence its score and its matched terms, as positions in terms_ (a run of `matched`).
    struct Scored {
        double score;
        std::size_t first;
        std::size_t end;
    };
    std::vector<Scored> scores;
    scores.reserve(sentences.size());
    std::vector<std::uint32_t> matched;
    std::vector<std::uint64_t> seen(terms_.size(), 0);
    std::uint64_t serial = 0;
    std::string lower;
    for (const std::string_view s : sentences) {
        const std::size_t first = matched.size();
        const double score = score_into(s, terms_, lower, seen, ++serial, matched);
        scores.push_back({score, first, matched.size()});
    }

    Documents out;
    const std::size_t n = sentences.size();
    std::vector<std::uint32_t> window_terms;
    std::size_t i = 0;
    while (true) {
        const bool hotspot = scores[i].score >= relevance_threshold;
        const std::uint64_t width = hotspot ? hotspot_sentences : context_sentences;
        const std::uint64_t step = hotspot ? hotspot_sentences - hotspot_overlap : context_sentences - context_overlap;
        const bool last = width >= n - i;
        const std::size_t end = last ? n : i + static_cast<std::size_t>(width);

        double best = 0.0;
        window_terms.clear();
        ++serial;
        for (std::size_t j = i; j < end; ++j) {
            best = std::max(best, scores[j].score);
            for (std::size_t k = scores[j].first; k < scores[j].end; ++k) {
                const std::uint32_t t = matched[k];
                if (seen[t] == serial) continue;
                seen[t] = serial;
                window_terms.push_back(t);
            }
        }
        Json terms = Json::array();
        for (const std::uint32_t t : window_terms) terms.push_back(std::string(terms_[t]));
        Document doc{text::join(std::span(sentences).subspan(i, end - i), " ")};
        Metadata& m = doc.metadata;
        m.reserve(7);
        m.insert_new("length", Json(static_cast<std::uint64_t>(doc.content.size())));
        m.insert_new("chunk_index", Json(static_cast<std::uint64_t>(out.size())));
        m.insert_new("query", Json(query));
        m.insert_new("is_hotspot", Json(hotspot));
        m.insert_new("chunk_type", Json(hotspot ? "hotspot" : "context"));
        m.insert_new("relevance_score", Json(round_score(best)));
        m.insert_new("matched_terms", std::move(terms));
        out.push_back(std::move(doc));
        if (last) break;
        i += static_cast<std::size_t>(std::max<std::uint64_t>(step, 1));
    }
    return out;
}

}  // namespace slivr
