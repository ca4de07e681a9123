#include "chunker/agentic.hpp"

#include <algorithm>
#include <array>

#include "chunker/sentence.hpp"
#include "chunker/terms.hpp"
#include "text/join.hpp"
#include "text/unicode.hpp"

namespace slivr {
namespace {

struct TransitionMarker {
    std::string_view marker;
    std::string_view after_comma;  // ", " + marker
    std::string_view label;
};

// Tried in this order; the first that matches decides.
constexpr std::array<TransitionMarker, 9> kTransitionMarkers = {{
    {"in conclusion", ", in conclusion", "Conclusion"},
    {"in summary", ", in summary", "Summary"},
    {"on the other hand", ", on the other hand", "Counter-argument"},
    {"in contrast", ", in contrast", "Contrast"},
    {"furthermore", ", furthermore", "Continuation"},
    {"secondly", ", secondly", "Subsequent Point"},
    {"finally", ", finally", "Final Section"},
    {"moving on to", ", moving on to", "Topic Shift"},
    {"meanwhile", ", meanwhile", "Parallel Topic"},
}};

// The stop words that can matter: the shorter ones are dropped by the length rule first.
constexpr std::array<std::string_view, 10> kStopWords = {"the", "are", "was",  "were", "and",
                                                         "for", "with", "from", "this", "that"};
constexpr std::size_t kShortestContentWord = 3;
constexpr double kDivergentOverlap = 0.05;

bool is_content_word(std::string_view word) {
    return word.size() >= kShortestContentWord &&
           std::find(kStopWords.begin(), kStopWords.end(), word) == kStopWords.end();
}

// Calls `visit(word)` for each content word of `text` in order, repeats included.
template <typename Visit>
void for_each_content_word(std::string_view text, std::string& scratch, Visit&& visit) {
    terms::for_each_normalized_word(text, scratch, [&](std::string_view word) {
        if (is_content_word(word)) visit(word);
    });
}

// The same for a text that is already lower-cased.
template <typename Visit>
void for_each_content_word_of_lower(std::string_view lower, Visit&& visit) {
    text::for_each_word(lower, [&](std::string_view word) {
        word = terms::strip_non_alphanumeric(word);
        if (is_content_word(word)) visit(word);
    });
}

// The group's byte length and content words are kept as running totals, so that each sentence is
// read a bounded number of times however long the group grows. Content words of appended
// sentences are folded in only when a divergence test needs them.
class HeuristicSession final : public AgenticDecisionSession {
public:
    explicit HeuristicSession(const HeuristicAgenticDecisionMaker& maker) : maker_(maker) {}

    Result<AgenticDecision> decide(std::string_view next) override {
        if (count_ == 0) return AgenticDecision::keep_going();
        const std::size_t c = joined_size_;
        if (c + next.size() >= maker_.max_chars) {
            return AgenticDecision::split_here("Size Boundary", "Exceeded max character size limit");
        }
        if (c < maker_.min_chars) return AgenticDecision::keep_going();

        text::to_lower_into(next, scratch_);  // kept for the content words below
        for (const TransitionMarker& m : kTransitionMarkers) {
            if (std::string_view(scratch_).starts_with(m.marker) ||
                scratch_.find(m.after_comma) != std::string::npos) {
                return AgenticDecision::split_here(std::string(m.label), "Detected discourse transition marker '" +
                                                                             std::string(m.marker) + "'");
            }
        }

        if (c - maker_.min_chars < maker_.min_chars) return AgenticDecision::keep_going();  // c < 2 min_chars
        next_words_.clear();
        next_seen_.clear();
        for_each_content_word_of_lower(scratch_, [&](std::string_view word) {
            if (next_seen_.emplace(word).second) next_words_.emplace_back(word);
        });
        if (next_words_.empty()) return AgenticDecision::keep_going();
        fold_pending();
        if (words_.empty()) return AgenticDecision::keep_going();

        std::size_t shared = 0;
        for (const std::string& w : next_words_) shared += words_.contains(w);
        const std::size_t either = words_.size() + next_words_.size() - shared;
        if (static_cast<double>(shared) / static_cast<double>(either) < kDivergentOverlap) {
            return AgenticDecision::split_here("Topic on " + next_words_.front(),
                                               "Low lexical overlap and topic divergence detected");
        }
        return AgenticDecision::keep_going();
    }

    void append(std::string_view sentence) override {
        joined_size_ += (count_ > 0 ? 1 : 0) + sentence.size();
        ++count_;
        pending_.push_back(sentence);
    }

    void clear() override {
        count_ = 0;
        joined_size_ = 0;
        pending_.clear();
        words_.clear();
    }

private:
    void fold_pending() {
        for (const std::string_view s : pending_) {
            for_each_content_word(s, scratch_, [&](std::string_view word) {
                if (!words_.contains(word)) words_.emplace(word);
            });
        }
        pending_.clear();
    }

    const HeuristicAgenticDecisionMaker& maker_;
    std::size_t count_ = 0;
    std::size_t joined_size_ = 0;              // bytes of the group's sentences joined by single blanks
    std::vector<std::string_view> pending_;    // appended, not yet in words_
    terms::StringSet words_;                   // content words of the group
    std::vector<std::string> next_words_;      // content words of the sentence asked about, in order
    terms::StringSet next_seen_;
    std::string scratch_;
};

// Keeps the group's sentences and asks the decision maker with all of them.
class ReplaySession final : public AgenticDecisionSession {
public:
    explicit ReplaySession(const AgenticDecisionMaker& maker) : maker_(maker) {}

    Result<AgenticDecision> decide(std::string_view next) override { return maker_.decide(group_, next); }
    void append(std::string_view sentence) override { group_.push_back(sentence); }
    void clear() override { group_.clear(); }

private:
    const AgenticDecisionMaker& maker_;
    std::vector<std::string_view> group_;
};

Document make_chunk(std::span<const std::string_view> group, const std::string& label, const std::string& reason,
                    std::size_t index) {
    Document doc{text::join(group, " ")};
    Metadata& m = doc.metadata;
    m.reserve(5);
    m.insert_new("length", Json(static_cast<std::uint64_t>(doc.content.size())));
    m.insert_new("sentence_count", Json(static_cast<std::uint64_t>(group.size())));
    m.insert_new("topic_label", Json(label));
    m.insert_new("split_reason", Json(reason));
    m.insert_new("chunk_index", Json(static_cast<std::uint64_t>(index)));
    return doc;
}

}  // namespace

std::unique_ptr<AgenticDecisionSession> AgenticDecisionMaker::start_session() const {
    return std::make_unique<ReplaySession>(*this);
}

std::unique_ptr<AgenticDecisionSession> HeuristicAgenticDecisionMaker::start_session() const {
    return std::make_unique<HeuristicSession>(*this);
}

Result<AgenticDecision> HeuristicAgenticDecisionMaker::decide(std::span<const std::string_view> current_sentences,
                                                              std::string_view next_sentence) const {
    // The words of the joined group are the words of its sentences, so replaying them one by one
    // gives the same totals as reading the joined text.
    HeuristicSession session(*this);
    for (const std::string_view s : current_sentences) session.append(s);
    return session.decide(next_sentence);
}

std::vector<std::string> HeuristicAgenticDecisionMaker::extract_content_words(std::string_view text) {
    std::vector<std::string> out;
    terms::StringSet seen;
    std::string scratch;
    for_each_content_word(text, scratch, [&](std::string_view word) {
        if (seen.emplace(word).second) out.emplace_back(word);
    });
    return out;
}

AgenticChunker::AgenticChunker() : decision_maker_(std::make_shared<const HeuristicAgenticDecisionMaker>()) {}

AgenticChunker AgenticChunker::with_decision_maker(std::shared_ptr<const AgenticDecisionMaker> decision_maker) && {
    decision_maker_ = std::move(decision_maker);
    return std::move(*this);
}

Result<Documents> AgenticChunker::chunk(std::string_view text) const {
    if (text::is_blank(text)) return fail(SlivrError::empty_input());
    const std::vector<std::string_view> sentences = split_sentences(text);
    if (sentences.empty()) return fail(SlivrError::empty_input());

    const std::unique_ptr<AgenticDecisionSession> session = decision_maker_->start_session();
    std::string label = "Initial Topic";
    std::string reason = "Document start";
    Documents out;
    std::size_t group_start = 0;
    for (std::size_t j = 0; j < sentences.size(); ++j) {
        auto decision = session->decide(sentences[j]);
        if (!decision) return fail(std::move(decision.error()));
        if (decision->split) {
            if (j > group_start) {
                out.push_back(make_chunk(std::span(sentences).subspan(group_start, j - group_start), label, reason,
                                         out.size()));
                session->clear();
                group_start = j;
            }
            label = std::move(decision->topic_label);
            reason = std::move(decision->split_reason);
        }
        session->append(sentences[j]);
    }
    out.push_back(make_chunk(std::span(sentences).subspan(group_start), label, reason, out.size()));
    return out;
}

}  // namespace slivr
