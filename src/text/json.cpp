#include "text/json.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "text/utf8.hpp"

namespace slivr::json {
namespace {

// A strict recursive-descent parser. Recursion is bounded by kMaxDepth, checked before descending.
class Parser {
public:
    explicit Parser(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

    std::optional<Json> parse_document() {
        Json value;
        skip_blanks();
        if (!parse_value(value, 0)) return std::nullopt;
        skip_blanks();
        if (p_ != end_) return std::nullopt;
        return value;
    }

private:
    void skip_blanks() {
        while (p_ != end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
    }

    bool literal(std::string_view word) {
        if (static_cast<std::size_t>(end_ - p_) < word.size() || std::string_view(p_, word.size()) != word) return false;
        p_ += word.size();
        return true;
    }

    bool parse_value(Json& out, std::size_t depth) {
        if (p_ == end_) return false;
        switch (*p_) {
        case '{': return parse_object(out, depth + 1);
        case '[': return parse_array(out, depth + 1);
        case '"': {
            std::string s;
            if (!parse_string(s)) return false;
            out = Json(std::move(s));
            return true;
        }
        case 't': out = Json(true); return literal("true");
        case 'f': out = Json(false); return literal("false");
        case 'n': out = Json(nullptr); return literal("null");
        default: return parse_number(out);
        }
    }

    bool parse_array(Json& out, std::size_t depth) {
        if (depth > kMaxDepth) return false;
        ++p_;
        out = Json::array();
        auto& elements = out.get_ref<Json::array_t&>();
        skip_blanks();
        if (p_ != end_ && *p_ == ']') {
            ++p_;
            return true;
        }
        for (;;) {
            skip_blanks();
            elements.emplace_back();
            if (!parse_value(elements.back(), depth)) return false;
            skip_blanks();
            if (p_ == end_) return false;
            if (*p_ == ',') {
                ++p_;
                continue;
            }
            if (*p_ != ']') return false;
            ++p_;
            return true;
        }
    }

    bool parse_object(Json& out, std::size_t depth) {
        if (depth > kMaxDepth) return false;
        ++p_;
        out = Json::object();
        auto& members = out.get_ref<Json::object_t&>();
        skip_blanks();
        if (p_ != end_ && *p_ == '}') {
            ++p_;
            return true;
        }
        for (;;) {
            skip_blanks();
            std::string key;
            if (p_ == end_ || *p_ != '"' || !parse_string(key)) return false;
            skip_blanks();
            if (p_ == end_ || *p_ != ':') return false;
            ++p_;
            skip_blanks();
            Json value;
            if (!parse_value(value, depth)) return false;
            // A later duplicate key replaces the earlier member.
            members.insert_or_assign(std::move(key), std::move(value));
            skip_blanks();
            if (p_ == end_) return false;
            if (*p_ == ',') {
                ++p_;
                continue;
            }
            if (*p_ != '}') return false;
            ++p_;
            return true;
        }
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

    static void append_utf8(std::uint32_t cp, std::string& out) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    // Parses a string at the opening quote. Raw control characters and lone surrogate escapes are
    // errors (the latter cannot be represented in UTF-8).
    bool parse_string(std::string& out) {
        ++p_;
        for (;;) {
            const char* run = p_;
            while (p_ != end_ && static_cast<unsigned char>(*p_) >= 0x20 && *p_ != '"' && *p_ != '\\') ++p_;
            out.append(run, p_);
            if (p_ == end_) return false;
            const char c = *p_++;
            if (c == '"') return true;
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
                append_utf8(cp, out);
                break;
            }
            default:
                return false;
            }
        }
    }

    static bool is_digit(char c) { return c >= '0' && c <= '9'; }

    // Integers take the unsigned form when not negative and the signed form otherwise; integers
    // beyond the 64-bit range, and numbers with a fraction or exponent, become floats. A float too
    // large to represent is not finite and is stored as null.
    bool parse_number(Json& out) {
        const char* start = p_;
        if (p_ != end_ && *p_ == '-') ++p_;
        if (p_ == end_) return false;
        if (*p_ == '0') {
            ++p_;
        } else if (is_digit(*p_)) {
            while (p_ != end_ && is_digit(*p_)) ++p_;
        } else {
            return false;
        }
        bool integer = true;
        if (p_ != end_ && *p_ == '.') {
            integer = false;
            ++p_;
            if (p_ == end_ || !is_digit(*p_)) return false;
            while (p_ != end_ && is_digit(*p_)) ++p_;
        }
        if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
            integer = false;
            ++p_;
            if (p_ != end_ && (*p_ == '+' || *p_ == '-')) ++p_;
            if (p_ == end_ || !is_digit(*p_)) return false;
            while (p_ != end_ && is_digit(*p_)) ++p_;
        }
        if (integer) {
            if (*start == '-') {
                std::int64_t v = 0;
                const auto r = std::from_chars(start, p_, v);
                if (r.ec == std::errc() && r.ptr == p_) {
                    out = Json(v);
                    return true;
                }
            } else {
                std::uint64_t v = 0;
                const auto r = std::from_chars(start, p_, v);
                if (r.ec == std::errc() && r.ptr == p_) {
                    out = Json(v);
                    return true;
                }
            }
        }
        double d = 0;
        const auto r = std::from_chars(start, p_, d);
        if (r.ec == std::errc::result_out_of_range) {
            d = std::strtod(std::string(start, p_).c_str(), nullptr);
        } else if (r.ec != std::errc() || r.ptr != p_) {
            return false;
        }
        out = std::isfinite(d) ? Json(d) : Json(nullptr);
        return true;
    }

    const char* p_;
    const char* end_;
};

constexpr char kHex[] = "0123456789abcdef";

void indent(std::size_t level, std::string& out) { out.append(2 * level, ' '); }

// Recursion follows the value's nesting, which the parser bounds by kMaxDepth.
void write_at(const Json& value, std::size_t level, std::string& out) {
    switch (value.type()) {
    case Json::value_t::null:
        out += "null";
        return;
    case Json::value_t::boolean:
        out += value.get<bool>() ? "true" : "false";
        return;
    case Json::value_t::number_unsigned: {
        char buf[24];
        const auto r = std::to_chars(buf, buf + sizeof buf, value.get<std::uint64_t>());
        out.append(buf, r.ptr);
        return;
    }
    case Json::value_t::number_integer: {
        char buf[24];
        const auto r = std::to_chars(buf, buf + sizeof buf, value.get<std::int64_t>());
        out.append(buf, r.ptr);
        return;
    }
    case Json::value_t::number_float:
        write_float(value.get<double>(), out);
        return;
    case Json::value_t::string:
        write_string(value.get_ref<const std::string&>(), out);
        return;
    case Json::value_t::array: {
        if (value.empty()) {
            out += "[]";
            return;
        }
        out += "[\n";
        bool first = true;
        for (const Json& element : value) {
            if (!first) out += ",\n";
            first = false;
            indent(level + 1, out);
            write_at(element, level + 1, out);
        }
        out += '\n';
        indent(level, out);
        out += ']';
        return;
    }
    case Json::value_t::object: {
        if (value.empty()) {
            out += "{}";
            return;
        }
        out += "{\n";
        bool first = true;
        for (const auto& [key, member] : value.get_ref<const Json::object_t&>()) {
            if (!first) out += ",\n";
            first = false;
            indent(level + 1, out);
            write_string(key, out);
            out += ": ";
            write_at(member, level + 1, out);
        }
        out += '\n';
        indent(level, out);
        out += '}';
        return;
    }
    case Json::value_t::binary:
    case Json::value_t::discarded:
        out += "null";
        return;
    }
}

// Width of each byte in a quoted string: 1 as it stands, 2 for the short escapes, 6 for \u00XX.
constexpr std::array<std::uint8_t, 256> kEscapeWidth = [] {
    std::array<std::uint8_t, 256> w{};
    for (int c = 0; c < 256; ++c) w[c] = c < 0x20 ? 6 : 1;
    for (unsigned char c : {'"', '\\', '\b', '\t', '\n', '\f', '\r'}) w[c] = 2;
    return w;
}();

std::size_t escaped_width(unsigned char c) { return kEscapeWidth[c]; }

}  // namespace

std::optional<Json> parse(std::string_view text) { return Parser(text).parse_document(); }

void write(const Json& value, std::string& out) { write_at(value, 0, out); }

void write_array_slice(const Json& array, std::size_t begin, std::size_t end, std::string& out) {
    if (begin == end) {
        out += "[]";
        return;
    }
    out += "[\n";
    for (std::size_t i = begin; i < end; ++i) {
        if (i != begin) out += ",\n";
        indent(1, out);
        write_at(array[i], 1, out);
    }
    out += "\n]";
}

std::string to_string(const Json& value) {
    std::string out;
    write(value, out);
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
    std::size_t run = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (escaped_width(c) == 1) continue;
        out.append(s.data() + run, i - run);
        run = i + 1;
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
    out.append(s.data() + run, s.size() - run);
    out += '"';
}

std::size_t quoted_chars(std::string_view s) {
    std::size_t n = 2;
    for (unsigned char c : s) {
        if (utf8::is_continuation(c)) continue;
        n += escaped_width(c);
    }
    return n;
}

Extent scalar_extent(const Json& value) {
    if (value.is_string()) return {quoted_chars(value.get_ref<const std::string&>()), 1};
    std::string text;
    write(value, text);
    return {text.size(), 1};
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
