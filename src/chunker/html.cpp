#include "chunker/html.hpp"

namespace slivr {

std::vector<std::string> html_separators() {
    return {"\n<article", "\n<section", "\n<main", "\n<div", "\n<h1", "\n<h2", "\n<h3", "\n<h4",
            "\n<table",   "\n<ul",      "\n<ol",   "\n<p",   "\n\n",  "\n",    " ",     ""};
}

HtmlChunker::HtmlChunker(std::uint64_t chunk_size, std::uint64_t overlap)
    : LabelledRecursiveChunker(html_separators(), chunk_size, overlap, "format", "html") {}

}  // namespace slivr
