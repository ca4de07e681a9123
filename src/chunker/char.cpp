#include "chunker/char.hpp"

#include "chunker/window.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace slivr {
namespace {

Document make_chunk(std::string_view content, std::size_t start, std::size_t end, std::size_t index) {
    Document doc{std::string(content)};
    Metadata& m = doc.metadata;
    m.reserve(5);
    m.insert_new("length", Json(static_cast<std::uint64_t>(content.size())));
    m.insert_new("char_count", Json(static_cast<std::uint64_t>(end - start)));
    m.insert_new("start_char", Json(static_cast<std::uint64_t>(start)));
    m.insert_new("end_char", Json(static_cast<std::uint64_t>(end)));
    m.insert_new("chunk_index", Json(static_cast<std::uint64_t>(index)));
    return doc;
}

// Maps character indexes to byte offsets for windows visited in increasing order. Both ends of a
// window only move forward, so one cursor per end walks the text once in all.
class CharCursor {
public:
    explicit CharCursor(std::string_view text) : text_(text) {}

    std::size_t byte_at(std::size_t char_index) {
        pos_ = utf8::advance(text_, pos_, char_index - index_);
        index_ = char_index;
        return pos_;
    }

private:
    std::string_view text_;
    std::size_t index_ = 0;
    std::size_t pos_ = 0;
};

}  // namespace

Result<Documents> CharacterChunker::chunk(std::string_view text) const {
    if (auto error = check_chunk_input(text, chunk_size, overlap)) return fail(std::move(*error));

    Documents out;
    const bool ascii = utf8::is_ascii(text);
    const std::size_t n = ascii ? text.size() : utf8::count_chars(text);
    CharCursor start_cursor(text);
    CharCursor end_cursor(text);
    for_each_window(n, chunk_size, overlap, [&](std::size_t start, std::size_t end) {
        const std::size_t from = ascii ? start : start_cursor.byte_at(start);
        const std::size_t to = ascii ? end : end_cursor.byte_at(end);
        const std::string_view content = text::trim(text.substr(from, to - from));
        if (content.empty()) return;
        out.push_back(make_chunk(content, start, end, out.size()));
    });
    return out;
}

}  // namespace slivr
