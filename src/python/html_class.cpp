#include "chunker/html.hpp"
#include "python/classes.hpp"

namespace slivr::py {

const ChunkerClass kHtmlChunkerClass = TwoSettingClass<HtmlChunker, &HtmlChunker::chunk_size, &HtmlChunker::overlap>::declare(
    "HtmlChunker", "(chunk_size=1200, overlap=150)", "chunk_size", 1200, "overlap", 150);

}  // namespace slivr::py
