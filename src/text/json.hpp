// JSON text: a strict parser into a compact tree, and the indented writer whose exact output
// format chunk contents rely on. The tree carries the serialised size of every value, measured
// while parsing, so that cutting a document never serialises anything just to learn its size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace slivr::json {

// Deepest nesting of arrays and objects that parses.
inline constexpr std::size_t kMaxDepth = 127;

// Size of a serialisation: characters (Unicode scalar values) and lines.
struct Extent {
    std::size_t chars = 0;
    std::size_t lines = 1;
};

// A parsed JSON value. Node 0 is the root. A container's children are linked in written order:
// array elements as they appear, object members by key (byte order), where a later duplicate key
// replaces the earlier member. Strings the source holds without escapes are views into the source
// text, which must outlive the tree. Nodes are small and stored in fixed blocks, so that a large
// document never copies its nodes to grow.
class Tree {
public:
    enum class Kind : std::uint8_t { null, boolean, unsigned_int, signed_int, floating, string, array, object };

    struct Node {
        Kind kind = Kind::null;
        // Strings: the text needs no escaping, it is written between quotes as it stands.
        bool verbatim = false;
        bool key_verbatim = false;
        bool boolean = false;
        std::uint32_t first = 0;  // first child; 0 when none (the root is nobody's child)
        std::uint32_t next = 0;   // next sibling; 0 after the last
        std::uint32_t lines = 1;  // of the value written at nesting level 0
        std::uint32_t count = 0;  // children
        std::size_t chars = 0;    // of the value written at nesting level 0
        const char* text_data = nullptr;
        union {
            std::uint64_t unsigned_int = 0;
            std::int64_t signed_int;
            double floating;
            std::size_t text_size;
            std::size_t elements;  // arrays: where their elements start in the element list
        };
        const char* key_data = nullptr;  // an object member's key
        std::size_t key_size = 0;

        std::string_view text() const { return {text_data, text_size}; }
        std::string_view key() const { return {key_data, key_size}; }
        Extent extent() const { return {chars, lines}; }
    };

    // Parses `text` as exactly one JSON value surrounded only by space, tab, LF or CR. Returns
    // nullopt on any syntax error, on nesting deeper than kMaxDepth, on trailing data, and on
    // documents of more than 2^32 - 1 values. Integers beyond the 64-bit range become floats; a
    // float too large to represent is null.
    static std::optional<Tree> parse(std::string_view text);

    const Node& operator[](std::size_t i) const { return const_cast<Tree*>(this)->at(i); }
    // The elements of array node `i`, in order. Walking this list instead of the sibling links lets
    // the processor fetch many elements at once, which matters once a document outgrows the caches.
    std::span<const std::uint32_t> elements(std::size_t i) const {
        return std::span(elements_).subspan((*this)[i].elements, (*this)[i].count);
    }

    // Appends the indented serialisation of node `i` at nesting level 0: two spaces per level,
    // ": " after keys, shortest round-trip floats, minimal escapes, no trailing newline.
    void write(std::size_t i, std::string& out) const { write_at(i, 0, out); }
    std::string to_string(std::size_t i) const;
    // Appends the serialisation of the array made of the given elements.
    void write_elements(std::span<const std::uint32_t> elements, std::string& out) const;

private:
    friend class Parser;
    static constexpr std::size_t kBlockShift = 12;
    static constexpr std::size_t kBlockMask = (std::size_t{1} << kBlockShift) - 1;

    Node& at(std::size_t i) { return blocks_[i >> kBlockShift].get()[i & kBlockMask]; }
    std::size_t add();
    void write_at(std::size_t i, std::size_t level, std::string& out) const;

    struct FreeBlock {
        void operator()(Node* block) const;
    };
    std::vector<std::unique_ptr<Node, FreeBlock>> blocks_;
    std::size_t size_ = 0;
    std::vector<std::uint32_t> elements_;
    std::deque<std::string> unescaped_;  // strings the source holds with escapes, decoded
};

// Appends a float in the writer's format (1.0, 0.001, 1e16, 1.5e-7, -0.0).
void write_float(double value, std::string& out);
// Appends `s` as a quoted JSON string.
void write_string(std::string_view s, std::string& out);
// The extent of the quoted form of `s`.
std::size_t quoted_chars(std::string_view s);

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
