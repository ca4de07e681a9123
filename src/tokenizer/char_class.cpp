#include "tokenizer/char_class.hpp"

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace slivr::tokenizer {
namespace {

enum UcdClass : std::uint8_t { Other, Lu, Ll, Lt, Lm, Lo, N, M, Space };

struct Range {
    std::uint32_t first;
    UcdClass klass;
};

#define R(first, klass) Range{first, klass}
constexpr Range kRanges[] = {
#include "tokenizer/unicode_classes.inc"
};
#undef R

constexpr std::uint8_t flags_of(UcdClass k) {
    switch (k) {
        case Lu: case Lt: return kLetter | kUpperish;
        case Ll: return kLetter | kLowerish;
        case Lm: case Lo: return kLetter | kUpperish | kLowerish;
        case N: return kNumber;
        case M: return kMark | kUpperish | kLowerish;
        case Space: return kSpace;
        case Other: break;
    }
    return 0;
}

}  // namespace

const CharClasses& CharClasses::get() {
    static const CharClasses* const instance = new CharClasses();
    return *instance;
}

CharClasses::CharClasses() {
    std::vector<std::uint8_t> flat(0x110000);
    constexpr std::size_t n = std::size(kRanges);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t end = i + 1 < n ? kRanges[i + 1].first : 0x110000;
        std::memset(flat.data() + kRanges[i].first, flags_of(kRanges[i].klass), end - kRanges[i].first);
    }
    flat['\r'] |= kNewline;
    flat['\n'] |= kNewline;
    std::memcpy(ascii_, flat.data(), sizeof ascii_);

    // Most 256-code-point blocks repeat (unassigned planes, runs of one script): keep one copy each.
    std::map<std::string, std::uint16_t> seen;
    std::string unique;
    for (std::size_t b = 0; b < 0x1100; ++b) {
        std::string block(reinterpret_cast<const char*>(flat.data()) + (b << 8), 256);
        auto [it, fresh] = seen.emplace(std::move(block), static_cast<std::uint16_t>(seen.size()));
        if (fresh) unique += it->first;
        stage1_[b] = it->second;
    }
    blocks_ = new std::uint8_t[unique.size()];
    std::memcpy(blocks_, unique.data(), unique.size());
}

CharInfo CharClasses::decode(const unsigned char* p, std::size_t available) const {
    constexpr CharInfo invalid{0, 1};
    const unsigned char b0 = p[0];
    std::size_t size;
    char32_t c;
    if (b0 >= 0xC2 && b0 < 0xE0) {
        size = 2;
        c = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 < 0xF0) {
        size = 3;
        c = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 < 0xF5) {
        size = 4;
        c = b0 & 0x07;
    } else {
        return invalid;
    }
    if (size > available) return invalid;
    for (std::size_t i = 1; i < size; ++i) {
        if ((p[i] & 0xC0) != 0x80) return invalid;
        c = (c << 6) | (p[i] & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not characters.
    if ((size == 3 && c < 0x800) || (size == 4 && (c < 0x10000 || c > 0x10FFFF)) || (c >= 0xD800 && c < 0xE000)) {
        return invalid;
    }
    return {flags(c), static_cast<std::uint8_t>(size)};
}

}  // namespace slivr::tokenizer
