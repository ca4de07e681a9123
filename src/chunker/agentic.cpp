#include "chunker/agentic.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "chunker/sentence.hpp"
#include "chunker/terms.hpp"
#include "text/join.hpp"
#include "text/unicode.hpp"

namespace slivr {
namespace {

struct TransitionMarker {
    std::string_view marker;
    std::string_view label;
};

// Tried in this order; the first that matches decides.
constexpr std::array<TransitionMarker, 9> kTransitionMarkers = {{
    {"in conclusion", "Conclusion"},
    {"in summary", "Summary"},
    {"on the other hand", "Counter-argument"},
    {"in contrast", "Contrast"},
    {"furthermore", "Continuation"},
    {"secondly", "Subsequent Point"},
    {"finally", "Final Section"},
    {"moving on to", "Topic Shift"},
    {"meanwhile", "Parallel Topic"},
}};

// The stop words that can matter: the shorter ones are dropped by the length rule first.
constexpr std::array<std::string_view, 10> kStopWords = {"the", "are", "was",  "were", "and",
                                                         "for", "with", "from", "this", "that"};
constexpr std::size_t kShortestContentWord = 3;
constexpr double kDivergentOverlap = 0.05;

inline bool is_content_word(std::string_view word) {
    if (word.size() < kShortestContentWord) return false;
    // Every stop word has 3 or 4 bytes; most words are ruled out by their length alone.
    if (word.size() > 4) return true;
    // Comparisons of known length, which compile to a load and a compare each.
    for (const std::string_view stop : kStopWords) {
        if (stop.size() == word.size() && std::memcmp(stop.data(), word.data(), stop.size() == 3 ? 3 : 4) == 0) {
            return false;
        }
    }
    return true;
}

// Calls `visit(word)` for each content word of the lower-cased text `lower`, in order, repeats included.
template <typename Visit>
void for_each_content_word(std::string_view lower, Visit&& visit) {
    text::for_each_word(lower, [&](std::string_view word) {
        // Stripping only shortens a word, so a short one is ruled out unstripped.
        if (word.size() < kShortestContentWord) return;
        word = terms::strip_non_alphanumeric(word);
        if (is_content_word(word)) visit(word);
    });
}

// The first marker of the table that the lower-cased sentence starts with or has after ", ", or null.
const TransitionMarker* find_transition_marker(std::string_view lower) {
    std::size_t best = kTransitionMarkers.size();
    for (std::size_t i = 0; i < best; ++i) {
        if (lower.starts_with(kTransitionMarkers[i].marker)) best = i;
    }
    // One scan over the ", " occurrences instead of one search per marker.
    for (std::size_t pos = lower.find(", "); pos != std::string_view::npos && best > 0;
         pos = lower.find(", ", pos + 1)) {
        const std::string_view rest = lower.substr(pos + 2);
        for (std::size_t i = 0; i < best; ++i) {
            if (rest.starts_with(kTransitionMarkers[i].marker)) best = i;
        }
    }
    return best < kTransitionMarkers.size() ? &kTransitionMarkers[best] : nullptr;
}

// The group's byte length and content words are kept as running totals, so that each sentence is
// read a bounded number of times however long the group grows. The content words of a sentence
// asked about are kept for when it joins the group; other sentences are read only when a
// divergence test needs the group's words.
//
// Every content word met gets a number (its position in `vocabulary_`); the group and the asked
// sentence hold a word when its stamp equals their current serial number, so that membership
// costs one lookup of the word and emptying the group costs nothing.
class HeuristicSession final : public AgenticDecisionSession {
public:
    explicit HeuristicSession(const HeuristicAgenticDecisionMaker& maker) : maker_(maker) {}

    Result<AgenticDecision> decide(std::string_view next) override {
        asked_.reset();
        if (count_ == 0) return AgenticDecision::keep_going();
        const std::size_t c = joined_size_;
        if (c + next.size() >= maker_.max_chars) {
            return AgenticDecision::split_here("Size Boundary", "Exceeded max character size limit");
        }
        if (c < maker_.min_chars) return AgenticDecision::keep_going();

        text::to_lower_into(next, lower_);
        if (const TransitionMarker* m = find_transition_marker(lower_)) {
            return AgenticDecision::split_here(std::string(m->label),
                                               "Detected discourse transition marker '" + std::string(m->marker) + "'");
        }

        // The sentence is lower-cased already: its words are kept for when it joins the group,
        // even if no divergence test needs them now, so that it is never lower-cased twice.
        ++question_;
        next_words_.clear();
        for_each_content_word(lower_, [&](std::string_view word) {
            const std::size_t id = number_of(word);
            if (in_next_[id] == question_) return;
            in_next_[id] = question_;
            next_words_.push_back(id);
        });
        asked_ = next;
        if (c - maker_.min_chars < maker_.min_chars) return AgenticDecision::keep_going();  // c < 2 min_chars
        if (next_words_.empty()) return AgenticDecision::keep_going();
        fold_pending();
        if (group_size_ == 0) return AgenticDecision::keep_going();

        std::size_t shared = 0;
        for (const std::size_t id : next_words_) shared += in_group_[id] == group_;
        const std::size_t either = group_size_ + next_words_.size() - shared;
        if (static_cast<double>(shared) / static_cast<double>(either) < kDivergentOverlap) {
            return AgenticDecision::split_here("Topic on " + std::string(vocabulary_[next_words_[0]]),
                                               "Low lexical overlap and topic divergence detected");
        }
        return AgenticDecision::keep_going();
    }

    void append(std::string_view sentence) override {
        joined_size_ += (count_ > 0 ? 1 : 0) + sentence.size();
        ++count_;
        if (asked_ && sentence.data() == asked_->data() && sentence.size() == asked_->size()) {
            for (const std::size_t id : next_words_) add_to_group(id);
        } else {
            pending_.push_back(sentence);
        }
        asked_.reset();
    }

    void clear() override {
        count_ = 0;
        joined_size_ = 0;
        pending_.clear();
        ++group_;
        group_size_ = 0;
        // Numbers are only needed within a group: past a bound the vocabulary starts afresh, so
        // that a text of ever new words keeps memory proportional to its groups. The words of
        // the asked sentence are then read again when needed.
        if (vocabulary_.size() > kVocabularyLimit) {
            vocabulary_.clear();
            in_group_.clear();
            in_next_.clear();
            asked_.reset();
        }
    }

private:
    static constexpr std::size_t kVocabularyLimit = std::size_t{1} << 10;

    std::size_t number_of(std::string_view word) {
        const std::size_t id = vocabulary_.position(word, terms::hash_bytes(word));
        if (id == in_group_.size()) {
            in_group_.push_back(0);
            in_next_.push_back(0);
        }
        return id;
    }

    void add_to_group(std::size_t id) {
        if (in_group_[id] == group_) return;
        in_group_[id] = group_;
        ++group_size_;
    }

    void fold_pending() {
        for (const std::string_view s : pending_) {
            text::to_lower_into(s, lower_);
            for_each_content_word(lower_, [&](std::string_view word) { add_to_group(number_of(word)); });
        }
        pending_.clear();
    }

    const HeuristicAgenticDecisionMaker& maker_;
    std::size_t count_ = 0;
    std::size_t joined_size_ = 0;            // bytes of the group's sentences joined by single blanks
    std::vector<std::string_view> pending_;  // in the group, not yet counted in its words
    terms::TermSet vocabulary_;
    std::vector<std::uint64_t> in_group_;    // per word number: the last group holding it
    std::vector<std::uint64_t> in_next_;     // per word number: the last question whose sentence held it
    std::uint64_t group_ = 1;                // serial number of the current group
    std::uint64_t question_ = 0;             // serial number of the last sentence whose words were read
    std::size_t group_size_ = 0;             // distinct content words of the group
    std::optional<std::string_view> asked_;  // the sentence whose content words next_words_ holds
    std::vector<std::size_t> next_words_;    // its distinct content words, in order of first appearance
    std::string lower_;
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

Document make_chunk(std::span<const std::string_view> group, std::string label, std::string reason, std::size_t index) {
    Document doc{text::join(group, " ")};
    Metadata& m = doc.metadata;
    m.reserve(5);
    m.insert_new("length", Json(static_cast<std::uint64_t>(doc.content.size())));
    m.insert_new("sentence_count", Json(static_cast<std::uint64_t>(group.size())));
    m.insert_new("topic_label", Json(std::move(label)));
    m.insert_new("split_reason", Json(std::move(reason)));
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
    terms::TermSet words;
    // The words of the lower-cased text are the lower-cased words (see terms::for_each_normalized_word).
    for_each_content_word(text::to_lower(text), [&](std::string_view word) { words.insert(word); });
    std::vector<std::string> out;
    out.reserve(words.size());
    for (std::size_t i = 0; i < words.size(); ++i) out.emplace_back(words[i]);
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
                // The label and reason belong to this chunk alone: the decision replaces them below.
                out.push_back(make_chunk(std::span(sentences).subspan(group_start, j - group_start), std::move(label),
                                         std::move(reason), out.size()));
                session->clear();
                group_start = j;
            }
            label = std::move(decision->topic_label);
            reason = std::move(decision->split_reason);
        }
        session->append(sentences[j]);
    }
    out.push_back(make_chunk(std::span(sentences).subspan(group_start), std::move(label), std::move(reason), out.size()));
    return out;
}

}  // namespace slivr
