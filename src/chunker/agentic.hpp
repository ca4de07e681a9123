// Consecutive sentences grouped by asking a decision maker, sentence by sentence, whether the next
// one still belongs to the chunk being built; a split carries a topic label and a reason.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "chunker/base.hpp"

namespace slivr {

struct AgenticDecision {
    static AgenticDecision keep_going() { return {}; }
    static AgenticDecision split_here(std::string topic_label, std::string split_reason) {
        return {true, std::move(topic_label), std::move(split_reason)};
    }

    bool split = false;
    std::string topic_label;   // only for a split
    std::string split_reason;  // only for a split
};

// The questions of one text, asked in order: `decide` about the next sentence given the group
// built so far, then `append` (the sentence joins the group) after a `clear` when the group was
// cut. Lets a decision maker keep running totals of the group instead of re-reading it.
class AgenticDecisionSession {
public:
    virtual ~AgenticDecisionSession() = default;
    virtual Result<AgenticDecision> decide(std::string_view next_sentence) = 0;
    virtual void append(std::string_view sentence) = 0;
    virtual void clear() = 0;
};

// Decides whether `next_sentence` continues the group `current_sentences` (possibly empty).
// Implementations are immutable and callable from several threads at once.
class AgenticDecisionMaker {
public:
    virtual ~AgenticDecisionMaker() = default;
    virtual Result<AgenticDecision> decide(std::span<const std::string_view> current_sentences,
                                           std::string_view next_sentence) const = 0;

    // A session for one text. The default keeps the group's sentences and calls `decide` with
    // all of them for every sentence.
    virtual std::unique_ptr<AgenticDecisionSession> start_session() const;
};

// Splits when the group would reach `max_chars` bytes; once it holds `min_chars` bytes, when the
// next sentence opens with (or has after ", ") a discourse transition marker; once it holds twice
// `min_chars`, when the next sentence shares almost no content words with it. Never fails.
class HeuristicAgenticDecisionMaker final : public AgenticDecisionMaker {
public:
    explicit HeuristicAgenticDecisionMaker(std::size_t max_chars = 1200, std::size_t min_chars = 150)
        : max_chars(max_chars), min_chars(min_chars) {}

    Result<AgenticDecision> decide(std::span<const std::string_view> current_sentences,
                                   std::string_view next_sentence) const override;
    std::unique_ptr<AgenticDecisionSession> start_session() const override;

    // The distinct words of `text` (lower-cased, stripped of non-alphanumeric characters at both
    // ends) of at least 3 bytes that are not stop words, in order of first appearance.
    static std::vector<std::string> extract_content_words(std::string_view text);

    const std::size_t max_chars;
    const std::size_t min_chars;
};

class AgenticChunker final : public Chunker {
public:
    // A HeuristicAgenticDecisionMaker with its defaults.
    AgenticChunker();

    AgenticChunker with_decision_maker(std::shared_ptr<const AgenticDecisionMaker> decision_maker) &&;

    Result<Documents> chunk(std::string_view text) const override;

    const std::shared_ptr<const AgenticDecisionMaker>& decision_maker() const { return decision_maker_; }

private:
    std::shared_ptr<const AgenticDecisionMaker> decision_maker_;
};

}  // namespace slivr
