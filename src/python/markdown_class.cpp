#include "chunker/markdown.hpp"
#include "python/classes.hpp"

namespace slivr::py {

const ChunkerClass kMarkdownChunkerClass = TwoSettingClass<MarkdownChunker, &MarkdownChunker::chunk_size, &MarkdownChunker::overlap>::declare(
    "MarkdownChunker", "(chunk_size=1000, overlap=150)", "chunk_size", 1000, "overlap", 150);

}  // namespace slivr::py
