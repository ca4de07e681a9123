// JSON text: a strict parser into the JSON value model and the indented writer whose exact output
// format chunk contents rely on.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "structures/document.hpp"

namespace slivr::json {

// Deepest nesting of arrays and objects that parses.
inline constexpr std::size_t kMaxDepth = 127;

// Parses `text` as exactly one JSON value surrounded only by space, tab, LF or CR. Returns nullopt
// on any syntax error, on nesting deeper than kMaxDepth, and on trailing data. Later duplicate
// keys win; integers beyond the 64-bit range become floats.
std::optional<Json> parse(std::string_view text);

// Appends the indented serialisation of `value` at nesting level 0: two spaces per level, ": "
// after keys, shortest round-trip floats, minimal escapes, no trailing newline.
void write(const Json& value, std::string& out);
std::string to_string(const Json& value);
// Appends the serialisation of the array made of elements [begin, end) of `array`.
void write_array_slice(const Json& array, std::size_t begin, std::size_t end, std::string& out);

// Appends a float in the writer's format (1.0, 0.001, 1e16, 1.5e-7, -0.0).
void write_float(double value, std::string& out);
// Appends `s` as a quoted JSON string.
void write_string(std::string_view s, std::string& out);

// Size of a serialisation: characters (Unicode scalar values) and lines.
struct Extent {
    std::size_t chars = 0;
    std::size_t lines = 1;
};

// The extent of the quoted form of `s`.
std::size_t quoted_chars(std::string_view s);
// The extent of a scalar's serialisation.
Extent scalar_extent(const Json& value);

// Extents of a container's serialisation from the extents of its parts, without writing anything.
// An element (or a member's value) nested one level deeper gains two spaces on each of its lines.
class ContainerExtent {
public:
    void add_element(Extent e) { add(e.chars + 2 * e.lines, e.lines); }
    void add_member(std::size_t key_chars, Extent value) { add(key_chars + 2 + value.chars + 2 * value.lines, value.lines); }
    void remove_last_element(Extent e);
    std::size_t count() const { return count_; }
    Extent extent() const;

private:
    void add(std::size_t chars, std::size_t lines) {
        body_chars_ += chars;
        body_lines_ += lines;
        ++count_;
    }
    std::size_t body_chars_ = 0;
    std::size_t body_lines_ = 0;
    std::size_t count_ = 0;
};

}  // namespace slivr::json
