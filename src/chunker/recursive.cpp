#include "chunker/recursive.hpp"

#include <algorithm>
#include <optional>

#include "text/search.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace slivr {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// Byte offset `count` characters after `pos`, or the end of the text.
std::size_t step_chars(std::string_view text, bool ascii, std::size_t pos, std::uint64_t count) {
    if (ascii) return text.size() - pos <= count ? text.size() : pos + static_cast<std::size_t>(count);
    return utf8::advance(text, pos, static_cast<std::size_t>(std::min<std::uint64_t>(count, text.size())));
}

// One text being cut into parts, either at every match of a separator or every `size` characters.
// Parts come out lazily, so that those still too long can be split before the next one is taken.
class Split {
public:
    // Cut at the separator `matches` looks for, whose first match is at `first_match`.
    Split(std::string_view text, std::size_t rest, text::MatchCursor matches, std::size_t first_match,
          SeparatorPlacement placement)
        : text_(text),
          rest_(rest),
          matches_(matches),
          cut_shift_(placement == SeparatorPlacement::End ? matches.needle_size() : 0),
          match_(first_match) {}

    // Cut every `size` characters.
    Split(std::string_view text, std::size_t rest, std::uint64_t size)
        : text_(text), rest_(rest), char_size_(size), ascii_(utf8::is_ascii(text)) {}

    // The first separator to try on a part of this split that is still too long.
    std::size_t rest() const { return rest_; }

    // Sets `part` to the next non-empty part; false once the text is used up.
    bool next(std::string_view& part) {
        while (start_ < text_.size()) {
            std::size_t end;
            if (!matches_) {
                end = step_chars(text_, ascii_, start_, char_size_);
            } else if (match_ == npos) {
                end = text_.size();
            } else {
                end = match_ + cut_shift_;
                match_ = matches_->find(match_ + matches_->needle_size());
            }
            part = text_.substr(start_, end - start_);
            start_ = end;
            if (!part.empty()) return true;
        }
        return false;
    }

private:
    std::string_view text_;
    std::size_t rest_;
    std::optional<text::MatchCursor> matches_;  // none: cut by characters
    std::size_t cut_shift_ = 0;
    std::size_t match_ = npos;
    std::size_t start_ = 0;
    std::uint64_t char_size_ = 0;
    bool ascii_ = false;
};

// Greedy merge of pieces into chunks of at most `chunk_size` bytes (a single piece may be longer),
// carrying the longest suffix of whole pieces worth at most `overlap` bytes. Pieces arrive one by
// one while the text is still being split, so each chunk is copied while its bytes are in cache.
class Merger {
public:
    Merger(std::uint64_t chunk_size, std::uint64_t overlap, Documents& out)
        : chunk_size_(chunk_size), overlap_(overlap), out_(out) {}

    void add(std::string_view piece) {
        if (total_ + piece.size() > chunk_size_ && first_ < lengths_.size()) {
            emit();
            if (total_ > overlap_) {
                while (total_ > overlap_ && first_ < lengths_.size()) drop_first();
            } else {
                // The whole window fits in the overlap: dropping one piece still makes progress.
                drop_first();
            }
            compact();
        }
        if (first_ == lengths_.size()) begin_ = piece.data();
        lengths_.push_back(piece.size());
        total_ += piece.size();
    }

    void finish() {
        if (first_ < lengths_.size()) emit();
    }

private:
    // Pieces are contiguous, so the window is the text from its first piece's start, `total_` long.
    void emit() {
        const std::string_view content = text::trim(std::string_view(begin_, static_cast<std::size_t>(total_)));
        if (content.empty()) return;
        Document doc{std::string(content)};
        doc.metadata.reserve(2);
        doc.metadata.insert_new("length", Json(static_cast<std::uint64_t>(content.size())));
        doc.metadata.insert_new("chunk_index", Json(static_cast<std::uint64_t>(out_.size())));
        out_.push_back(std::move(doc));
    }

    void drop_first() {
        const std::size_t len = lengths_[first_++];
        begin_ += len;
        total_ -= len;
    }

    // Forgets the lengths of dropped pieces once they outnumber the live ones.
    void compact() {
        if (first_ < 1024 || first_ * 2 < lengths_.size()) return;
        lengths_.erase(lengths_.begin(), lengths_.begin() + static_cast<std::ptrdiff_t>(first_));
        first_ = 0;
    }

    const std::uint64_t chunk_size_;
    const std::uint64_t overlap_;
    Documents& out_;
    std::vector<std::size_t> lengths_;  // of every piece since the last compaction
    std::size_t first_ = 0;             // index in lengths_ of the window's first piece
    const char* begin_ = nullptr;       // start of the window's first piece
    std::uint64_t total_ = 0;           // bytes in the window
};

// Calls `emit(piece)` for consecutive pieces of `size` characters (a size of 0 is taken as 1).
template <typename Emit>
void split_by_chars(std::uint64_t size, std::string_view text, Emit&& emit) {
    Split split(text, 0, size == 0 ? 1 : size);
    std::string_view piece;
    while (split.next(piece)) emit(piece);
}

// Calls `emit(piece)` for the pieces of `text` in order; see split_recursive_into. Depth-first
// over an explicit stack of splits rather than by recursion: a long separator list whose entries
// all occur in the text would otherwise nest one call per separator.
template <typename Emit>
void split_recursive(std::uint64_t chunk_size, SeparatorPlacement placement, std::string_view text,
                     std::span<const std::string> separators, Emit&& emit) {
    if (text.size() <= chunk_size) {
        emit(text);
        return;
    }
    std::vector<Split> stack;
    // Starts cutting `part` (longer than chunk_size) with the first of separators[first..] that
    // applies, or cuts it by characters when none does.
    auto open = [&](std::string_view part, std::size_t first) {
        for (std::size_t i = first; i < separators.size(); ++i) {
            const std::string_view separator = separators[i];
            if (separator.empty()) {
                stack.emplace_back(part, i + 1, chunk_size);
                return;
            }
            text::MatchCursor matches(part, separator);
            const std::size_t match = matches.find(0);
            if (match != npos) {
                stack.emplace_back(part, i + 1, matches, match, placement);
                return;
            }
        }
        split_by_chars(chunk_size, part, emit);
    };

    open(text, 0);
    std::string_view part;
    while (!stack.empty()) {
        if (!stack.back().next(part)) {
            stack.pop_back();
        } else if (part.size() <= chunk_size) {
            emit(part);
        } else {
            open(part, stack.back().rest());
        }
    }
}

}  // namespace

RecursiveChunker::RecursiveChunker() : separators{"\n\n", "\n", " ", ""}, chunk_size(1000), overlap(200) {}

void RecursiveChunker::split_by_char_indices_into(std::uint64_t size, std::string_view text,
                                                  std::vector<std::string_view>& out) {
    split_by_chars(size, text, [&](std::string_view piece) { out.push_back(piece); });
}

void RecursiveChunker::split_recursive_into(std::uint64_t chunk_size, SeparatorPlacement placement,
                                            std::string_view text, std::span<const std::string> separators,
                                            std::vector<std::string_view>& out) {
    split_recursive(chunk_size, placement, text, separators, [&](std::string_view piece) { out.push_back(piece); });
}

Result<Documents> RecursiveChunker::chunk(std::string_view text) const {
    if (auto error = check_chunk_input(text, chunk_size, overlap)) return fail(std::move(*error));
    Documents out;
    Merger merger(chunk_size, overlap, out);
    split_recursive(chunk_size, placement, text, separators, [&](std::string_view piece) { merger.add(piece); });
    merger.finish();
    return out;
}

}  // namespace slivr
