#include "chunker/word.hpp"
#include "python/classes.hpp"

namespace slivr::py {

const ChunkerClass kWordChunkerClass = TwoSettingClass<WordChunker, &WordChunker::chunk_size, &WordChunker::overlap>::declare(
    "WordChunker", "(chunk_size=200, overlap=20)", "chunk_size", 200, "overlap", 20);

}  // namespace slivr::py
