// The Python classes of the chunkers, each declared in its own file.
#pragma once

#include "python/chunker_type.hpp"

namespace slivr::py {

extern const ChunkerClass kRecursiveChunkerClass;
extern const ChunkerClass kTokenChunkerClass;
extern const ChunkerClass kSentenceChunkerClass;
extern const ChunkerClass kParagraphChunkerClass;
extern const ChunkerClass kSemanticChunkerClass;
extern const ChunkerClass kPropositionChunkerClass;
extern const ChunkerClass kContextualChunkerClass;
extern const ChunkerClass kQueryAwareChunkerClass;
extern const ChunkerClass kAgenticChunkerClass;
extern const ChunkerClass kHierarchicalChunkerClass;
extern const ChunkerClass kMarkdownChunkerClass;
extern const ChunkerClass kCodeChunkerClass;
extern const ChunkerClass kJsonChunkerClass;
extern const ChunkerClass kHtmlChunkerClass;
extern const ChunkerClass kCharacterChunkerClass;
extern const ChunkerClass kWordChunkerClass;

}  // namespace slivr::py
