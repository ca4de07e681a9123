#include "chunker/markdown.hpp"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "text/join.hpp"
#include "text/unicode.hpp"

namespace slivr {
namespace {

// A fence opens or closes on three backticks or three tildes, whatever follows them and however
// far the line is indented; the two kinds close each other.
bool is_fence(std::string_view left_trimmed) {
    return left_trimmed.starts_with("```") || left_trimmed.starts_with("~~~");
}

// A run of one to six '#' that ends the line or is followed by a space, or by white space only.
// A tab or a no-break space right after the run followed by text does not make a heading.
std::optional<MarkdownHeading> heading_of(std::string_view left_trimmed) {
    if (left_trimmed.empty() || left_trimmed[0] != '#') return std::nullopt;
    const std::size_t level = std::min(left_trimmed.find_first_not_of('#'), left_trimmed.size());
    if (level > 6) return std::nullopt;
    const std::string_view rest = left_trimmed.substr(level);
    const std::string_view title = text::trim_start(rest);
    if (!rest.empty() && rest[0] != ' ' && !title.empty()) return std::nullopt;
    return MarkdownHeading{static_cast<std::uint8_t>(level), title};
}

Metadata section_metadata(std::size_t length, Json headers, std::string_view header_path, bool has_code_block,
                          std::size_t index) {
    Metadata m;
    m.reserve(5);
    m.insert_new("length", Json(static_cast<std::uint64_t>(length)));
    m.insert_new("headers", std::move(headers));
    m.insert_new("header_path", Json(std::string(header_path)));
    m.insert_new("has_code_block", Json(has_code_block));
    m.insert_new("chunk_index", Json(static_cast<std::uint64_t>(index)));
    return m;
}

}  // namespace

std::vector<MarkdownSection> scan_markdown_sections(std::string_view text) {
    std::vector<MarkdownSection> sections;
    if (text.empty()) return sections;
    HeadingPath path;
    std::size_t start = 0;
    bool in_fence = false;
    bool has_code_block = false;
    // Closes the section [start, end) if it holds anything but white space.
    auto close = [&](std::size_t end) {
        const std::string_view content = text.substr(start, end - start);
        if (!text::is_blank(content)) sections.push_back({path, content, has_code_block});
    };

    std::size_t pos = 0;
    while (true) {
        const void* newline = std::memchr(text.data() + pos, '\n', text.size() - pos);
        const std::size_t end = newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - text.data())
                                        : text.size();
        const std::string_view line = text::trim_start(text.substr(pos, end - pos));
        if (is_fence(line)) {
            in_fence = !in_fence;
            has_code_block = true;
        } else if (!in_fence) {
            if (const auto heading = heading_of(line)) {
                // The previous section ends before the line feed that ends the line above.
                if (pos > start) {
                    close(pos - 1);
                    has_code_block = false;
                    start = pos;
                }
                path.enter(*heading);
            }
        }
        if (newline == nullptr) break;
        pos = end + 1;
    }
    if (start < text.size()) close(text.size());
    return sections;
}

MarkdownChunker::MarkdownChunker(std::uint64_t chunk_size, std::uint64_t overlap)
    : chunk_size(chunk_size), overlap(overlap) {
    inner_.chunk_size = chunk_size;
    inner_.overlap = overlap;
}

Result<Documents> MarkdownChunker::chunk(std::string_view text) const {
    if (text::is_blank(text)) return fail(SlivrError::empty_input());

    Documents out;
    std::vector<std::string_view> titles;
    for (const MarkdownSection& section : scan_markdown_sections(text)) {
        titles.clear();
        Json headers = Json::array();
        for (const MarkdownHeading& h : section.path.headings()) {
            titles.push_back(h.title);
            headers.push_back(Json(std::string(h.title)));
        }
        const std::string header_path = text::join(titles, " > ");

        if (section.content.size() <= chunk_size) {
            const std::string_view content = text::trim(section.content);
            Document doc{std::string(content)};
            doc.metadata = section_metadata(content.size(), std::move(headers), header_path, section.has_code_block,
                                            out.size());
            out.push_back(std::move(doc));
            continue;
        }
        auto pieces = inner_.chunk(section.content);
        if (!pieces) return fail(std::move(pieces.error()));
        for (Document& piece : *pieces) {
            piece.metadata =
                section_metadata(piece.content.size(), headers, header_path, section.has_code_block, out.size());
            out.push_back(std::move(piece));
        }
    }
    return out;
}

}  // namespace slivr
