// HTML source cut preferably before block-level opening tags at the start of a line. The markup is
// neither parsed nor stripped: chunks are slices of the source, tags included, labelled "html".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chunker/labelled.hpp"

namespace slivr {

// Opening tags of block elements (the line feed, '<' and the name, so attributes and longer names
// match too), strongest first, then paragraph break, line feed, blank and characters.
std::vector<std::string> html_separators();

class HtmlChunker final : public LabelledRecursiveChunker {
public:
    explicit HtmlChunker(std::uint64_t chunk_size = 1200, std::uint64_t overlap = 150);
};

}  // namespace slivr
