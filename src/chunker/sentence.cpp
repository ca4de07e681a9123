#include "chunker/sentence.hpp"

#include <algorithm>
#include <array>
#include <string>

#include "chunker/window.hpp"
#include "text/join.hpp"
#include "text/search.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace slivr {
namespace {

// Lower-case words ending in a period after which a sentence does not end.
constexpr std::array<std::string_view, 40> kAbbreviations = {
    "mr.",  "mrs.", "ms.",  "dr.",  "prof.", "sr.",    "jr.",  "vs.",   "etc.", "e.g.",
    "i.e.", "inc.", "corp.", "co.", "ltd.",  "u.s.",   "u.k.", "u.s.a.", "p.m.", "a.m.",
    "jan.", "feb.", "mar.", "apr.", "jun.",  "jul.",   "aug.", "sep.",  "sept.", "oct.",
    "nov.", "dec.", "dept.", "approx.", "est.", "fig.", "al.", "no.",   "vol.", "pp.",
};

// Every entry has at most this many characters. Lower-casing never maps a character to nothing,
// so a word of more characters, or of more than four bytes per such character, cannot match.
constexpr std::size_t kLongestEntryChars = 7;
constexpr std::size_t kLongestWordBytes = kLongestEntryChars * 4;
constexpr std::size_t kShortestEntryBytes = 3;

bool is_abbreviation(std::string_view lower_word) {
    return std::find(kAbbreviations.begin(), kAbbreviations.end(), lower_word) != kAbbreviations.end();
}

// True when the last word of `sentence` (which ends in a period) lower-cases to an abbreviation.
// Only the last few bytes are looked at, so a long unbroken word costs no more than a short one.
bool ends_with_abbreviation(std::string_view sentence, std::string& scratch) {
    std::string_view tail = sentence;
    if (tail.size() > kLongestWordBytes + utf8::kMaxSequence) {
        std::size_t from = tail.size() - kLongestWordBytes - utf8::kMaxSequence;
        while (utf8::is_continuation(static_cast<unsigned char>(tail[from]))) ++from;
        tail.remove_prefix(from);
    }
    const std::string_view word = text::last_word(tail);
    if (word.size() > kLongestWordBytes) return false;
    // Lower-casing keeps the length of an ASCII word, so most words are ruled out unread.
    if (utf8::is_ascii(word) && (word.size() < kShortestEntryBytes || word.size() > kLongestEntryChars)) return false;
    text::to_lower_into(word, scratch);
    return is_abbreviation(scratch);
}

bool is_closing_mark(char c) { return c == '"' || c == '\'' || c == ')' || c == ']'; }
bool is_break_after_terminator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
// A TAB after a closing mark does not end a sentence, unlike one right after the terminator.
bool is_break_after_closing_mark(char c) { return c == ' ' || c == '\n' || c == '\r'; }

// Where the sentence would end if the terminator at `i` ends it, or npos when it cannot.
std::size_t candidate_end(std::string_view text, std::size_t i) {
    const std::size_t n = text.size();
    if (i + 1 == n || is_break_after_terminator(text[i + 1])) return i + 1;
    if (is_closing_mark(text[i + 1]) && (i + 2 == n || is_break_after_closing_mark(text[i + 2]))) return i + 2;
    return std::string_view::npos;
}

void append_trimmed(std::vector<std::string_view>& out, std::string_view piece) {
    piece = text::trim(piece);
    if (!piece.empty()) out.push_back(piece);
}

void add_count(Metadata& m, std::string_view key, std::size_t value) {
    m.insert_new(std::string(key), Json(static_cast<std::uint64_t>(value)));
}

}  // namespace

std::vector<std::string_view> split_sentences(std::string_view text) {
    std::vector<std::string_view> out;
    std::string scratch;
    std::size_t start = 0;
    text::ByteSetCursor terminators(text, ".!?");
    for (std::size_t i = terminators.find(0); i != std::string_view::npos; i = terminators.find(i + 1)) {
        const char c = text[i];
        const std::size_t end = candidate_end(text, i);
        if (end == std::string_view::npos) continue;
        if (c == '.') {
            if (i > 0 && text[i - 1] == '.') continue;
            if (ends_with_abbreviation(text.substr(start, i + 1 - start), scratch)) continue;
        }
        append_trimmed(out, text.substr(start, end - start));
        start = end;
        i = end - 1;
    }
    if (start < text.size()) append_trimmed(out, text.substr(start));
    return out;
}

std::vector<std::string_view> split_paragraphs(std::string_view text) {
    std::vector<std::string_view> out;
    text::MatchCursor breaks(text, "\n\n");
    std::size_t pos = 0;
    while (true) {
        const std::size_t match = breaks.find(pos);
        append_trimmed(out, text.substr(pos, match == std::string_view::npos ? std::string_view::npos : match - pos));
        if (match == std::string_view::npos) break;
        pos = match + 2;
    }
    return out;
}

Result<Documents> SentenceChunker::chunk(std::string_view text) const {
    if (auto error = check_chunk_input(text, sentences_per_chunk, overlap)) return fail(std::move(*error));
    const std::vector<std::string_view> sentences = split_sentences(text);
    if (sentences.empty()) return fail(SlivrError::empty_input());

    Documents out;
    for_each_window(sentences.size(), sentences_per_chunk, overlap, [&](std::size_t start, std::size_t end) {
        std::string content = text::join(std::span(sentences).subspan(start, end - start), " ");
        if (max_characters && content.size() > *max_characters) {
            const std::size_t cut = utf8::advance(content, 0, static_cast<std::size_t>(*max_characters));
            if (cut < content.size()) {
                const std::string_view kept = text::trim(std::string_view(content).substr(0, cut));
                const std::size_t from = static_cast<std::size_t>(kept.data() - content.data());
                content.resize(from + kept.size());
                content.erase(0, from);
            }
        }
        Document doc{std::move(content)};
        Metadata& m = doc.metadata;
        m.reserve(5);
        add_count(m, "length", doc.content.size());
        add_count(m, "sentence_count", end - start);
        add_count(m, "start_sentence", start);
        add_count(m, "end_sentence", end);
        add_count(m, "chunk_index", out.size());
        out.push_back(std::move(doc));
    });
    return out;
}

Result<Documents> ParagraphChunker::chunk(std::string_view text) const {
    if (auto error = check_chunk_input(text, paragraphs_per_chunk, overlap)) return fail(std::move(*error));
    const std::vector<std::string_view> paragraphs = split_paragraphs(text);
    if (paragraphs.empty()) return fail(SlivrError::empty_input());

    Documents out;
    for_each_window(paragraphs.size(), paragraphs_per_chunk, overlap, [&](std::size_t start, std::size_t end) {
        Document doc{text::join(std::span(paragraphs).subspan(start, end - start), "\n\n")};
        Metadata& m = doc.metadata;
        m.reserve(5);
        add_count(m, "length", doc.content.size());
        add_count(m, "paragraph_count", end - start);
        add_count(m, "start_paragraph", start);
        add_count(m, "end_paragraph", end);
        add_count(m, "chunk_index", out.size());
        out.push_back(std::move(doc));
    });
    return out;
}

}  // namespace slivr
