#include "chunker/labelled.hpp"

namespace slivr {

LabelledRecursiveChunker::LabelledRecursiveChunker(std::vector<std::string> separators, std::uint64_t chunk_size,
                                                   std::uint64_t overlap, std::string_view key,
                                                   std::string_view value)
    : chunk_size(chunk_size), overlap(overlap), key_(key), value_(value) {
    inner_.separators = std::move(separators);
    inner_.chunk_size = chunk_size;
    inner_.overlap = overlap;
    // Cutting before a declaration or an opening tag keeps it at the head of its chunk.
    inner_.placement = SeparatorPlacement::Start;
}

Result<Documents> LabelledRecursiveChunker::chunk(std::string_view text) const {
    auto chunks = inner_.chunk(text);
    if (!chunks) return chunks;
    const Json label(std::string{value_});
    for (Document& doc : *chunks) doc.metadata.set(key_, label);
    return chunks;
}

}  // namespace slivr
