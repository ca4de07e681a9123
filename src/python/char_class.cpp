#include "chunker/char.hpp"
#include "python/classes.hpp"

namespace slivr::py {

const ChunkerClass kCharacterChunkerClass = TwoSettingClass<CharacterChunker, &CharacterChunker::chunk_size, &CharacterChunker::overlap>::declare(
    "CharacterChunker", "(chunk_size=1000, overlap=200)", "chunk_size", 1000, "overlap", 200);

}  // namespace slivr::py
