#include "chunker/word.hpp"

#include "chunker/window.hpp"
#include "text/join.hpp"
#include "text/unicode.hpp"

namespace slivr {

Result<Documents> WordChunker::chunk(std::string_view text) const {
    if (auto error = check_chunk_input(text, chunk_size, overlap)) return fail(std::move(*error));
    const std::vector<std::string_view> words = text::split_words(text);
    if (words.empty()) return fail(SlivrError::empty_input());

    Documents out;
    for_each_window(words.size(), chunk_size, overlap, [&](std::size_t start, std::size_t end) {
        Document doc{text::join(std::span(words).subspan(start, end - start), " ")};
        Metadata& m = doc.metadata;
        m.reserve(5);
        m.insert_new("length", Json(static_cast<std::uint64_t>(doc.content.size())));
        m.insert_new("word_count", Json(static_cast<std::uint64_t>(end - start)));
        m.insert_new("start_word", Json(static_cast<std::uint64_t>(start)));
        m.insert_new("end_word", Json(static_cast<std::uint64_t>(end)));
        m.insert_new("chunk_index", Json(static_cast<std::uint64_t>(out.size())));
        out.push_back(std::move(doc));
    });
    return out;
}

}  // namespace slivr
