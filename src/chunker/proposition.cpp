#include "chunker/proposition.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <span>

#include "chunker/sentence.hpp"
#include "chunker/terms.hpp"
#include "chunker/window.hpp"
#include "text/join.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace slivr {
namespace {

// Verbs after which the words before them are taken as the sentence's subject.
constexpr std::array<std::string_view, 21> kSubjectVerbs = {
    "is",       "was",      "are",      "has",      "had",      "can",      "were",
    "have",     "will",     "uses",     "built",    "serves",   "located",  "created",
    "designed", "released", "provides", "features", "includes", "supports", "published",
};
// Verbs that let a relative clause without a following comma be said of the word before it.
constexpr std::array<std::string_view, 13> kRelativeClauseVerbs = {
    "is", "was", "are", "has", "had", "were", "have", "built", "serves", "located", "created", "features", "supports",
};
// Verbs that make a coordinated clause a statement about the sentence's subject.
constexpr std::array<std::string_view, 12> kCoordinateVerbs = {
    "is", "was", "are", "has", "had", "were", "have", "serves", "welcomes", "provides", "features", "supports",
};

constexpr std::array<std::string_view, 4> kRelativeMarkers = {", which ", ", who ", ", where ", ", that "};
constexpr std::array<std::string_view, 6> kCoordinationMarkers = {"; ",         ", and ",     ", but ",
                                                                  ", however, ", ", whereas ", ", while "};

// No listed verb has more characters than this; lower-casing never drops a character, so a
// longer word cannot match and is not lower-cased at all.
constexpr std::size_t kLongestVerb = 9;

template <std::size_t N>
bool is_listed(const std::array<std::string_view, N>& list, std::string_view word, std::string& scratch) {
    if (word.empty() || utf8::count_chars(word) > kLongestVerb) return false;
    text::to_lower_into(word, scratch);
    return std::find(list.begin(), list.end(), scratch) != list.end();
}

std::string_view first_word(std::string_view s) {
    const std::size_t start = text::skip_white_space(s, 0);
    return s.substr(start, text::skip_word(s, start) - start);
}

std::string_view last_word(std::string_view s) { return text::last_word(text::trim_end(s)); }

std::string_view strip_trailing(std::string_view s, char c) {
    while (!s.empty() && s.back() == c) s.remove_suffix(1);
    return s;
}

std::string_view strip_commas_and_stops(std::string_view s) {
    const auto edge = [](char c) { return c == ',' || c == '.'; };
    while (!s.empty() && edge(s.front())) s.remove_prefix(1);
    while (!s.empty() && edge(s.back())) s.remove_suffix(1);
    return s;
}

// Template A: "<first> <second>."
std::string statement(std::string_view first, std::string_view second) {
    std::string out;
    out.reserve(first.size() + second.size() + 2);
    out.append(first);
    out.push_back(' ');
    out.append(second);
    out.push_back('.');
    return out;
}

// Template B: "<text>."
std::string statement(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 1);
    out.append(text);
    out.push_back('.');
    return out;
}

// The words before the first listed verb after the first word, else the first two words.
std::optional<std::string> subject_of(std::string_view t, std::string& scratch) {
    const std::vector<std::string_view> words = text::split_words(t);
    for (std::size_t j = 1; j < words.size(); ++j) {
        if (is_listed(kSubjectVerbs, terms::strip_non_alphabetic(words[j]), scratch)) {
            return text::join(std::span(words).first(j), " ");
        }
    }
    if (words.size() < 2) return std::nullopt;
    return text::join(std::span(words).first(2), " ");
}

// The two propositions of a sentence with a relative clause starting at `p`, or none.
std::vector<std::string> split_relative_clause(std::string_view t, std::size_t p, std::string_view marker,
                                               std::string& scratch) {
    const std::string_view main = strip_trailing(text::trim(t.substr(0, p)), ',');
    const std::string_view rest = t.substr(p + marker.size());
    const std::size_t q = rest.find(", ");
    if (q != std::string_view::npos) {
        const std::string_view relative = strip_trailing(text::trim(rest.substr(0, q)), '.');
        const std::string_view remainder = strip_trailing(text::trim(rest.substr(q + 2)), '.');
        return {statement(main, remainder), statement(main, relative)};
    }
    const std::string_view relative = strip_trailing(text::trim(rest), '.');
    std::vector<std::string> out;
    out.push_back(statement(main));
    const std::string_view antecedent = last_word(main);
    // A main clause without words has nothing to repeat, so the clause is then kept as it is.
    if (!antecedent.empty() && is_listed(kRelativeClauseVerbs, first_word(relative), scratch)) {
        out.push_back(statement(antecedent, relative));
    } else {
        out.push_back(statement(relative));
    }
    return out;
}

// The propositions of `t` split at every occurrence of `marker` (parts that give none are left out).
std::vector<std::string> split_coordination(std::string_view t, std::string_view marker,
                                            std::optional<std::optional<std::string>>& subject,
                                            std::string& scratch) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    for (std::size_t i = 0;; ++i) {
        const std::size_t match = t.find(marker, pos);
        const std::size_t end = match == std::string_view::npos ? t.size() : match;
        const std::string_view part = strip_commas_and_stops(text::trim(t.substr(pos, end - pos)));
        // A lone word after a marker is no statement of its own.
        if (!part.empty() && (i == 0 || part.find(' ') != std::string_view::npos)) {
            const bool starts_with_verb = is_listed(kCoordinateVerbs, first_word(part), scratch);
            if (starts_with_verb && !subject) subject = subject_of(t, scratch);
            out.push_back(starts_with_verb && subject->has_value() ? statement(**subject, part) : statement(part));
        }
        if (match == std::string_view::npos) break;
        pos = match + marker.size();
    }
    return out;
}

}  // namespace

Result<std::vector<std::string>> SyntacticPropositionExtractor::extract_propositions(std::string_view sentence) const {
    const std::string_view t = text::trim(sentence);
    if (t.empty()) return std::vector<std::string>{};
    // Every marker contains a comma or a semicolon; most sentences have neither.
    if (t.find(',') == std::string_view::npos && t.find(';') == std::string_view::npos) {
        return std::vector<std::string>{std::string(t)};
    }
    std::string scratch;

    for (const std::string_view marker : kRelativeMarkers) {
        const std::size_t p = t.find(marker);
        if (p != std::string_view::npos) return split_relative_clause(t, p, marker, scratch);
    }

    // The subject is only needed when a clause starts with a coordinate verb; it is found once.
    std::optional<std::optional<std::string>> subject;
    for (const std::string_view marker : kCoordinationMarkers) {
        if (t.find(marker) == std::string_view::npos) continue;
        std::vector<std::string> parts = split_coordination(t, marker, subject, scratch);
        if (parts.size() > 1) return parts;
    }
    return std::vector<std::string>{std::string(t)};
}

Result<PropositionChunker> PropositionChunker::create(std::shared_ptr<const PropositionExtractor> extractor,
                                                      std::uint64_t propositions_per_chunk, std::uint64_t overlap) {
    if (propositions_per_chunk == 0) return fail(SlivrError::invalid_chunk_size(0));
    if (overlap >= propositions_per_chunk) {
        return fail(SlivrError::invalid_chunk_overlap(propositions_per_chunk, overlap));
    }
    return PropositionChunker(std::move(extractor), propositions_per_chunk, overlap);
}

Result<Documents> PropositionChunker::chunk(std::string_view text) const {
    if (text::is_blank(text)) return fail(SlivrError::empty_input());
    std::vector<std::string> propositions;
    for (const std::string_view sentence : split_sentences(text)) {
        auto extracted = extractor_->extract_propositions(sentence);
        if (!extracted) return fail(std::move(extracted.error()));
        for (std::string& p : *extracted) propositions.push_back(std::move(p));
    }
    if (propositions.empty()) return fail(SlivrError::empty_input());
    const std::vector<std::string_view> views(propositions.begin(), propositions.end());

    Documents out;
    for_each_window(views.size(), propositions_per_chunk_, overlap_, [&](std::size_t start, std::size_t end) {
        // A window of one proposition is its only user when windows hold one (then there is no
        // overlap), so its text can be moved rather than copied.
        Document doc{propositions_per_chunk_ == 1 ? std::move(propositions[start])
                                                  : text::join(std::span(views).subspan(start, end - start), " ")};
        Metadata& m = doc.metadata;
        m.reserve(5);
        m.insert_new("length", Json(static_cast<std::uint64_t>(doc.content.size())));
        m.insert_new("proposition_count", Json(static_cast<std::uint64_t>(end - start)));
        m.insert_new("start_prop_idx", Json(static_cast<std::uint64_t>(start)));
        m.insert_new("end_prop_idx", Json(static_cast<std::uint64_t>(end)));
        m.insert_new("chunk_index", Json(static_cast<std::uint64_t>(out.size())));
        out.push_back(std::move(doc));
    });
    return out;
}

}  // namespace slivr
