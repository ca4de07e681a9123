// The Python classes of the chunkers, each declared in its own file.
#pragma once

#include "python/chunker_type.hpp"

namespace slivr::py {

extern const ChunkerClass kCharacterChunkerClass;

}  // namespace slivr::py
