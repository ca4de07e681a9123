#include "chunker/sentence.hpp"
#include "python/classes.hpp"

namespace slivr::py {

const ChunkerClass kParagraphChunkerClass = TwoSettingClass<ParagraphChunker, &ParagraphChunker::paragraphs_per_chunk, &ParagraphChunker::overlap>::declare(
    "ParagraphChunker", "(paragraphs_per_chunk=2, overlap=0)", "paragraphs_per_chunk", 2, "overlap", 0);

}  // namespace slivr::py
