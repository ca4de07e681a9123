#include "text/json.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "text/utf8.hpp"

namespace slivr::json {
namespace {

constexpr char kHex[] = "0123456789abcdef";

// Width of each byte in a quoted string: 1 as it stands, 2 for the short escapes, 6 for \u00XX.
constexpr std::array<std::uint8_t, 256> kEscapeWidth = [] {
    std::array<std::uint8_t, 256> w{};
    for (int c = 0; c < 256; ++c) w[c] = c < 0x20 ? 6 : 1;
    for (unsigned char c : {'"', '\\', '\b', '\t', '\n', '\f', '\r'}) w[c] = 2;
    return w;
}();

std::size_t escaped_width(unsigned char c) { return kEscapeWidth[c]; }


// Skips the run of a string body that stands as written: stops at the first quote, backslash or
// control byte (or the end). With `Count`, adds the characters passed over to `chars`.
template <bool Count>
const char* scan_verbatim(const char* p, const char* end, std::size_t& chars) {
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i last_control = _mm_set1_epi8(0x1F);
    const __m128i first_lead = _mm_set1_epi8(static_cast<char>(0xC0));
    const __m128i one = _mm_set1_epi8(1);
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(v, last_control), last_control);
        const __m128i stop = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)), control);
        if (_mm_movemask_epi8(stop) != 0) break;  // the bytes before the stop are counted below
        if constexpr (Count) {
            // Continuation bytes (0x80-0xBF) are the signed values below 0xC0; every other byte
            // starts a character.
            const __m128i starts = _mm_andnot_si128(_mm_cmplt_epi8(v, first_lead), one);
            const __m128i sums = _mm_sad_epu8(starts, _mm_setzero_si128());
            chars += static_cast<std::size_t>(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
        }
        p += 16;
    }
#endif
    for (; p != end; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\' || c < 0x20) break;
        if constexpr (Count) chars += utf8::is_continuation(c) ? 0 : 1;
    }
    return p;
}

std::size_t decimal_digits(std::uint64_t v) {
    std::size_t n = 1;
    while (v >= 10) {
        v /= 10;
        ++n;
    }
    return n;
}

void indent(std::size_t level, std::string& out) { out.append(2 * level, ' '); }

}  // namespace

// A strict recursive-descent parser. Recursion is bounded by kMaxDepth, checked before descending.
class Parser {
public:
    explicit Parser(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

    std::optional<Tree> parse_document() {
        skip_blanks();
        if (parse_value(0) == kFailed) return std::nullopt;
        skip_blanks();
        if (p_ != end_) return std::nullopt;
        return std::move(tree_);
    }

private:
    static constexpr std::size_t kFailed = static_cast<std::size_t>(-1);
    using Kind = Tree::Kind;

    Tree::Node& node(std::size_t i) { return tree_.at(i); }

    // A new node, or kFailed once the links (32 bits) could no longer reach it.
    std::size_t add(Kind kind) {
        if (tree_.size_ >= std::numeric_limits<std::uint32_t>::max()) return kFailed;
        const std::size_t i = tree_.add();
        node(i).kind = kind;
        return i;
    }

    void skip_blanks() {
        while (p_ != end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
    }

    bool literal(std::string_view word) {
        if (static_cast<std::size_t>(end_ - p_) < word.size() || std::string_view(p_, word.size()) != word) return false;
        p_ += word.size();
        return true;
    }

    std::size_t scalar(Kind kind, std::size_t chars) {
        const std::size_t i = add(kind);
        if (i != kFailed) node(i).chars = chars;
        return i;
    }

    std::size_t parse_value(std::size_t depth) {
        if (p_ == end_) return kFailed;
        switch (*p_) {
        case '{': return parse_object(depth + 1);
        case '[': return parse_array(depth + 1);
        case '"': {
            String s;
            if (!parse_string(s)) return kFailed;
            const std::size_t i = scalar(Kind::string, s.quoted_chars);
            if (i == kFailed) return kFailed;
            node(i).text_data = s.value.data();
            node(i).text_size = s.value.size();
            node(i).verbatim = s.verbatim;
            return i;
        }
        case 't':
        case 'f': {
            const bool value = *p_ == 't';
            if (!literal(value ? "true" : "false")) return kFailed;
            const std::size_t i = scalar(Kind::boolean, value ? 4 : 5);
            if (i != kFailed) node(i).boolean = value;
            return i;
        }
        case 'n': return literal("null") ? scalar(Kind::null, 4) : kFailed;
        default: return parse_number();
        }
    }

    std::size_t parse_array(std::size_t depth) {
        if (depth > kMaxDepth) return kFailed;
        ++p_;
        const std::size_t self = add(Kind::array);
        if (self == kFailed) return kFailed;
        skip_blanks();
        if (p_ != end_ && *p_ == ']') {
            ++p_;
            set_extent(self, ContainerExtent());
            return self;
        }
        ContainerExtent extent;
        // The elements of this array sit on top of the shared stack until it closes.
        const std::size_t mark = elements_.size();
        std::size_t last = 0;
        for (;;) {
            skip_blanks();
            const std::size_t element = parse_value(depth);
            if (element == kFailed) return kFailed;
            (last == 0 ? node(self).first : node(last).next) = static_cast<std::uint32_t>(element);
            last = element;
            elements_.push_back(static_cast<std::uint32_t>(element));
            extent.add_element(node(element).extent());
            skip_blanks();
            if (p_ == end_) return kFailed;
            if (*p_ == ',') {
                ++p_;
                continue;
            }
            if (*p_ != ']') return kFailed;
            ++p_;
            auto& list = tree_.elements_;
            node(self).elements = list.size();
            list.insert(list.end(), elements_.begin() + static_cast<std::ptrdiff_t>(mark), elements_.end());
            elements_.resize(mark);
            set_extent(self, extent);
            return self;
        }
    }

    std::size_t parse_object(std::size_t depth) {
        if (depth > kMaxDepth) return kFailed;
        ++p_;
        const std::size_t self = add(Kind::object);
        if (self == kFailed) return kFailed;
        skip_blanks();
        if (p_ != end_ && *p_ == '}') {
            ++p_;
            set_extent(self, ContainerExtent());
            return self;
        }
        // The members of this object sit on top of the shared stack until it closes.
        const std::size_t mark = members_.size();
        for (;;) {
            skip_blanks();
            String key;
            if (p_ == end_ || *p_ != '"' || !parse_string(key)) return kFailed;
            skip_blanks();
            if (p_ == end_ || *p_ != ':') return kFailed;
            ++p_;
            skip_blanks();
            const std::size_t member = parse_value(depth);
            if (member == kFailed) return kFailed;
            Tree::Node& m = node(member);
            m.key_data = key.value.data();
            m.key_size = key.value.size();
            m.key_verbatim = key.verbatim;
            members_.push_back(member);
            skip_blanks();
            if (p_ == end_) return kFailed;
            if (*p_ == ',') {
                ++p_;
                continue;
            }
            if (*p_ != '}') return kFailed;
            ++p_;
            link_members(self, mark);
            members_.resize(mark);
            return self;
        }
    }

    // Orders the object's members by key and links them; of equal keys the last one parsed stays.
    void link_members(std::size_t self, std::size_t mark) {
        const auto first = members_.begin() + static_cast<std::ptrdiff_t>(mark);
        const auto last = members_.end();
        const auto by_key = [this](std::size_t a, std::size_t b) { return node(a).key() < node(b).key(); };
        if (!std::is_sorted(first, last, by_key)) {
            if (last - first <= 16) {
                // Insertion sort: stable, and no allocation for the common small object.
                for (auto it = first + 1; it != last; ++it) {
                    const std::size_t v = *it;
                    auto hole = it;
                    for (; hole != first && by_key(v, *(hole - 1)); --hole) *hole = *(hole - 1);
                    *hole = v;
                }
            } else {
                std::stable_sort(first, last, by_key);
            }
        }
        ContainerExtent extent;
        std::size_t previous = 0;
        for (auto it = first; it != last; ++it) {
            const Tree::Node& member = node(*it);
            if (it + 1 != last && member.key() == node(*(it + 1)).key()) continue;  // replaced by a later member
            (previous == 0 ? node(self).first : node(previous).next) = static_cast<std::uint32_t>(*it);
            previous = *it;
            const std::size_t key_chars = member.key_verbatim ? 2 + utf8::count_chars(member.key()) : quoted_chars(member.key());
            extent.add_member(key_chars, member.extent());
        }
        set_extent(self, extent);
    }

    void set_extent(std::size_t i, const ContainerExtent& parts) {
        const Extent e = parts.extent();
        node(i).count = static_cast<std::uint32_t>(parts.count());
        node(i).chars = e.chars;
        // Lines never outnumber nodes, which the links bound to 32 bits.
        node(i).lines = static_cast<std::uint32_t>(e.lines);
    }

    bool hex4(std::uint32_t& v) {
        if (end_ - p_ < 4) return false;
        v = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = *p_++;
            v <<= 4;
            if (c >= '0' && c <= '9') v |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f') v |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') v |= static_cast<std::uint32_t>(c - 'A' + 10);
            else return false;
        }
        return true;
    }

    struct String {
        std::string_view value;
        bool verbatim = false;
        std::size_t quoted_chars = 0;
    };

    // Parses a string at the opening quote. A string without escapes stays a view of the source;
    // one with escapes is decoded into the tree. Raw control characters and lone surrogate escapes
    // are errors (the latter cannot be represented in UTF-8).
    bool parse_string(String& s) {
        ++p_;
        const char* start = p_;
        std::size_t chars = 0;
        p_ = scan_verbatim<true>(p_, end_, chars);
        if (p_ == end_) return false;
        if (*p_ == '"') {
            s = {std::string_view(start, static_cast<std::size_t>(p_ - start)), true, chars + 2};
            ++p_;
            return true;
        }
        std::string& out = tree_.unescaped_.emplace_back(start, p_);
        for (;;) {
            const char* run = p_;
            p_ = scan_verbatim<false>(p_, end_, chars);
            out.append(run, p_);
            if (p_ == end_) return false;
            const char c = *p_++;
            if (c == '"') break;
            if (c != '\\') return false;  // a raw control character
            if (p_ == end_) return false;
            switch (*p_++) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                std::uint32_t cp = 0;
                if (!hex4(cp)) return false;
                if (cp >= 0xDC00 && cp <= 0xDFFF) return false;
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    std::uint32_t low = 0;
                    if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u') return false;
                    p_ += 2;
                    if (!hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                utf8::append(cp, out);
                break;
            }
            default:
                return false;
            }
        }
        s = {out, false, quoted_chars(out)};
        return true;
    }

    static bool is_digit(char c) { return c >= '0' && c <= '9'; }

    // Integers take the unsigned form when not negative and the signed form otherwise; integers
    // beyond the 64-bit range, and numbers with a fraction or exponent, become floats. A float too
    // large to represent is not finite and is stored as null.
    std::size_t parse_number() {
        const char* start = p_;
        if (p_ != end_ && *p_ == '-') ++p_;
        if (p_ == end_) return kFailed;
        if (*p_ == '0') {
            ++p_;
        } else if (is_digit(*p_)) {
            while (p_ != end_ && is_digit(*p_)) ++p_;
        } else {
            return kFailed;
        }
        bool integer = true;
        if (p_ != end_ && *p_ == '.') {
            integer = false;
            ++p_;
            if (p_ == end_ || !is_digit(*p_)) return kFailed;
            while (p_ != end_ && is_digit(*p_)) ++p_;
        }
        if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
            integer = false;
            ++p_;
            if (p_ != end_ && (*p_ == '+' || *p_ == '-')) ++p_;
            if (p_ == end_ || !is_digit(*p_)) return kFailed;
            while (p_ != end_ && is_digit(*p_)) ++p_;
        }
        if (integer) {
            if (*start == '-') {
                std::int64_t v = 0;
                const auto r = std::from_chars(start, p_, v);
                if (r.ec == std::errc() && r.ptr == p_) {
                    const std::uint64_t magnitude = v < 0 ? 0 - static_cast<std::uint64_t>(v) : 0;
                    const std::size_t i = scalar(Kind::signed_int, decimal_digits(magnitude) + (v < 0 ? 1 : 0));
                    if (i != kFailed) node(i).signed_int = v;
                    return i;
                }
            } else {
                std::uint64_t v = 0;
                const auto r = std::from_chars(start, p_, v);
                if (r.ec == std::errc() && r.ptr == p_) {
                    const std::size_t i = scalar(Kind::unsigned_int, decimal_digits(v));
                    if (i != kFailed) node(i).unsigned_int = v;
                    return i;
                }
            }
        }
        double d = 0;
        const auto r = std::from_chars(start, p_, d);
        if (r.ec == std::errc::result_out_of_range) {
            d = std::strtod(std::string(start, p_).c_str(), nullptr);
        } else if (r.ec != std::errc() || r.ptr != p_) {
            return kFailed;
        }
        if (!std::isfinite(d)) return scalar(Kind::null, 4);
        std::string written;
        write_float(d, written);
        const std::size_t i = scalar(Kind::floating, written.size());
        if (i != kFailed) node(i).floating = d;
        return i;
    }

    const char* p_;
    const char* end_;
    Tree tree_;
    std::vector<std::size_t> members_;
    std::vector<std::uint32_t> elements_;
};

std::optional<Tree> Tree::parse(std::string_view text) { return Parser(text).parse_document(); }

// Nodes are trivially destructible and constructed one by one as the parser adds them, so a
// block's memory is only touched as far as it is used.
static_assert(std::is_trivially_destructible_v<Tree::Node>);

void Tree::FreeBlock::operator()(Node* block) const { std::free(block); }

std::size_t Tree::add() {
    const std::size_t i = size_;
    if ((i & kBlockMask) == 0) {
        void* memory = std::malloc((kBlockMask + 1) * sizeof(Node));
        if (memory == nullptr) throw std::bad_alloc();
        blocks_.emplace_back(static_cast<Node*>(memory));
    }
    new (&at(i)) Node{};
    ++size_;
    return i;
}

// Recursion follows the value's nesting, which the parser bounds by kMaxDepth.
void Tree::write_at(std::size_t i, std::size_t level, std::string& out) const {
    const Node& node = (*this)[i];
    switch (node.kind) {
    case Kind::null:
        out += "null";
        return;
    case Kind::boolean:
        out += node.boolean ? "true" : "false";
        return;
    case Kind::unsigned_int: {
        char buf[24];
        const auto r = std::to_chars(buf, buf + sizeof buf, node.unsigned_int);
        out.append(buf, r.ptr);
        return;
    }
    case Kind::signed_int: {
        char buf[24];
        const auto r = std::to_chars(buf, buf + sizeof buf, node.signed_int);
        out.append(buf, r.ptr);
        return;
    }
    case Kind::floating:
        write_float(node.floating, out);
        return;
    case Kind::string:
        if (node.verbatim) {
            out += '"';
            out += node.text();
            out += '"';
        } else {
            write_string(node.text(), out);
        }
        return;
    case Kind::array:
        if (node.first == 0) {
            out += "[]";
            return;
        }
        out += "[\n";
        for (std::size_t child = node.first; child != 0; child = (*this)[child].next) {
            if (child != node.first) out += ",\n";
            indent(level + 1, out);
            write_at(child, level + 1, out);
        }
        out += '\n';
        indent(level, out);
        out += ']';
        return;
    case Kind::object:
        if (node.first == 0) {
            out += "{}";
            return;
        }
        out += "{\n";
        for (std::size_t child = node.first; child != 0; child = (*this)[child].next) {
            if (child != node.first) out += ",\n";
            indent(level + 1, out);
            const Node& member = (*this)[child];
            if (member.key_verbatim) {
                out += '"';
                out += member.key();
                out += '"';
            } else {
                write_string(member.key(), out);
            }
            out += ": ";
            write_at(child, level + 1, out);
        }
        out += '\n';
        indent(level, out);
        out += '}';
        return;
    }
}

void Tree::write_elements(std::span<const std::uint32_t> elements, std::string& out) const {
    if (elements.empty()) {
        out += "[]";
        return;
    }
    out += "[\n";
    for (const std::uint32_t element : elements) {
        if (element != elements.front()) out += ",\n";
        indent(1, out);
        write_at(element, 1, out);
    }
    out += "\n]";
}

std::string Tree::to_string(std::size_t i) const {
    std::string out;
    out.reserve((*this)[i].chars);
    write(i, out);
    return out;
}

void write_float(double value, std::string& out) {
    if (value == 0.0) {
        out += std::signbit(value) ? "-0.0" : "0.0";
        return;
    }
    if (!std::isfinite(value)) {  // not representable in JSON; the value model stores these as null
        out += "null";
        return;
    }
    // Shortest round-trip digits, taken from the scientific form "d.ddde±x".
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    const std::string_view sci(buf, static_cast<std::size_t>(r.ptr - buf));
    const std::size_t e_pos = sci.find('e');
    std::string_view mantissa = sci.substr(0, e_pos);
    int exponent = 0;
    std::from_chars(sci.data() + e_pos + 1 + (sci[e_pos + 1] == '+'), sci.data() + sci.size(), exponent);
    const bool negative = mantissa.front() == '-';
    if (negative) mantissa.remove_prefix(1);
    std::string digits;
    for (char c : mantissa) {
        if (c != '.') digits += c;
    }
    if (negative) out += '-';
    const double magnitude = std::fabs(value);
    if (magnitude >= 1e-5 && magnitude < 1e16) {
        if (exponent >= 0) {
            const auto int_len = static_cast<std::size_t>(exponent) + 1;
            if (digits.size() <= int_len) {
                out += digits;
                out.append(int_len - digits.size(), '0');
                out += ".0";
            } else {
                out.append(digits, 0, int_len);
                out += '.';
                out.append(digits, int_len);
            }
        } else {
            out += "0.";
            out.append(static_cast<std::size_t>(-exponent - 1), '0');
            out += digits;
        }
        return;
    }
    out += digits[0];
    if (digits.size() > 1) {
        out += '.';
        out.append(digits, 1);
    }
    out += 'e';
    out += std::to_string(exponent);
}

void write_string(std::string_view s, std::string& out) {
    out += '"';
    const char* p = s.data();
    const char* const end = p + s.size();
    std::size_t unused = 0;
    for (;;) {
        const char* run = p;
        p = scan_verbatim<false>(p, end, unused);
        out.append(run, p);
        if (p == end) break;
        const auto c = static_cast<unsigned char>(*p++);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\f': out += "\\f"; break;
        case '\r': out += "\\r"; break;
        default:
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    out += '"';
}

std::size_t quoted_chars(std::string_view s) {
    std::size_t n = 2;
    const char* p = s.data();
    const char* const end = p + s.size();
    for (;;) {
        p = scan_verbatim<true>(p, end, n);
        if (p == end) return n;
        n += escaped_width(static_cast<unsigned char>(*p++));
    }
}

void ContainerExtent::remove_last_element(Extent e) {
    body_chars_ -= e.chars + 2 * e.lines;
    body_lines_ -= e.lines;
    --count_;
}

Extent ContainerExtent::extent() const {
    if (count_ == 0) return {2, 1};
    // Opening bracket and newline, the parts, ",\n" between parts, newline and closing bracket.
    return {2 + body_chars_ + 2 * (count_ - 1) + 2, 2 + body_lines_};
}

}  // namespace slivr::json
