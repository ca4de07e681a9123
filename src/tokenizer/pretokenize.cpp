#include "tokenizer/pretokenize.hpp"

namespace slivr::tokenizer {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// The regular expressions are matched leftmost-first with backtracking; each function below
// returns the end of the first alternative that matches at `pos`, derived by hand from the
// alternatives' order and their (possessive or backtracking) quantifiers.
class Scanner {
public:
    Scanner(const CharClasses& classes, std::string_view text) : cc_(classes), t_(text), n_(text.size()) {}

    std::size_t r50k(std::size_t p) const;
    std::size_t cl100k(std::size_t p) const;
    std::size_t o200k(std::size_t p) const;

private:
    CharInfo at(std::size_t p) const { return cc_.at(t_, p); }
    unsigned char byte(std::size_t p) const { return static_cast<unsigned char>(t_[p]); }

    // End of the run of characters having any flag of `mask`, from p.
    std::size_t run(std::size_t p, std::uint8_t mask) const {
        while (p < n_) {
            const CharInfo c = at(p);
            if ((c.flags & mask) == 0) break;
            p += c.size;
        }
        return p;
    }

    // End of the run of [^\s\p{L}\p{N}] characters from p.
    std::size_t run_other(std::size_t p) const {
        while (p < n_) {
            const CharInfo c = at(p);
            if (!is_other(c.flags)) break;
            p += c.size;
        }
        return p;
    }

    // End of at most three \p{N} characters from p.
    std::size_t digits3(std::size_t p) const {
        for (int k = 0; k < 3 && p < n_; ++k) {
            const CharInfo c = at(p);
            if ((c.flags & kNumber) == 0) break;
            p += c.size;
        }
        return p;
    }

    // Where a contraction ('s 't 'd 'm 'll 've 're) that starts at p ends; p when there is none.
    // With `fold` the letters match case-insensitively under Unicode simple case folding, which
    // also lets U+017F LATIN SMALL LETTER LONG S stand for s.
    std::size_t contraction_end(std::size_t p, bool fold) const;
    char letter(std::size_t p, bool fold, std::size_t& size) const;

    // ' ?[^\s\p{L}\p{N}]+' followed by any line breaks (and solidi with `slash`), the alternative
    // cl100k and o200k share; kNone when it does not match at p, whose character is c0.
    std::size_t punctuation_end(std::size_t p, CharInfo c0, bool slash) const {
        std::size_t q = p;
        CharInfo c = c0;
        if (t_[p] == ' ' && p + 1 < n_) {
            const CharInfo next = at(p + 1);
            if (is_other(next.flags)) {
                q = p + 1;
                c = next;
            }
        }
        if (!is_other(c.flags)) return kNone;
        std::size_t e = run_other(q);
        while (e < n_ && (t_[e] == '\r' || t_[e] == '\n' || (slash && t_[e] == '/'))) ++e;
        return e;
    }

    // The white-space alternatives. `newline_rule` adds \s*[\r\n] (match up to the last line break
    // of the run); `end_first` tries \s+$ before it (cl100k), otherwise after (o200k).
    std::size_t space_run(std::size_t p, bool newline_rule, bool end_first) const;

    // o200k's two letter alternatives without their optional prefix character, from s:
    // [\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]*[\p{Ll}\p{Lm}\p{Lo}\p{M}]+ and the same with + and * swapped.
    std::size_t upper_then_lower(std::size_t s) const;
    std::size_t upper_run_then_lower(std::size_t s) const;

    const CharClasses& cc_;
    std::string_view t_;
    std::size_t n_;
};

char Scanner::letter(std::size_t p, bool fold, std::size_t& size) const {
    size = 1;
    if (p >= n_) return 0;
    const unsigned char b = byte(p);
    if (b >= 'a' && b <= 'z') return static_cast<char>(b);
    if (!fold) return 0;
    if (b >= 'A' && b <= 'Z') return static_cast<char>(b + ('a' - 'A'));
    if (b == 0xC5 && p + 1 < n_ && byte(p + 1) == 0xBF) {
        size = 2;
        return 's';
    }
    return 0;
}

std::size_t Scanner::contraction_end(std::size_t p, bool fold) const {
    if (p >= n_ || t_[p] != '\'') return p;
    std::size_t s1;
    const char c1 = letter(p + 1, fold, s1);
    if (c1 == 's' || c1 == 'd' || c1 == 'm' || c1 == 't') return p + 1 + s1;
    if (c1 != 'l' && c1 != 'v' && c1 != 'r') return p;
    std::size_t s2;
    const char c2 = letter(p + 1 + s1, fold, s2);
    if ((c1 == 'l' && c2 == 'l') || (c1 != 'l' && c2 == 'e')) return p + 1 + s1 + s2;
    return p;
}

std::size_t Scanner::space_run(std::size_t p, bool newline_rule, bool end_first) const {
    std::size_t q = p;
    std::size_t last = p;       // start of the run's last character
    std::size_t newline = kNone;  // end of the run's last \r or \n
    std::size_t count = 0;
    while (q < n_) {
        const CharInfo c = at(q);
        if ((c.flags & kSpace) == 0) break;
        last = q;
        q += c.size;
        ++count;
        if (c.flags & kNewline) newline = q;
    }
    if (q == n_ && end_first) return q;                // \s+$
    if (newline_rule && newline != kNone) return newline;  // \s*[\r\n]
    if (q == n_) return q;                             // \s+(?!\S) at the end of the text
    if (count >= 2) return last;                       // \s+(?!\S): all but the last character
    return q;                                          // \s
}

std::size_t Scanner::r50k(std::size_t p) const {
    if (const std::size_t e = contraction_end(p, false); e != p) return e;
    std::size_t q = p;
    CharInfo c = at(p);
    if (t_[p] == ' ' && p + 1 < n_) {
        const CharInfo next = at(p + 1);
        if ((next.flags & kSpace) == 0) {
            q = p + 1;
            c = next;
        }
    }
    if (c.flags & kLetter) return run(q, kLetter);
    if (c.flags & kNumber) return run(q, kNumber);
    if (is_other(c.flags)) return run_other(q);
    return space_run(p, false, true);
}

std::size_t Scanner::cl100k(std::size_t p) const {
    if (const std::size_t e = contraction_end(p, true); e != p) return e;
    const CharInfo c0 = at(p);
    // [^\r\n\p{L}\p{N}]?+\p{L}++
    if (c0.flags & kLetter) return run(p, kLetter);
    if ((c0.flags & (kNumber | kNewline)) == 0 && p + c0.size < n_) {
        const CharInfo c1 = at(p + c0.size);
        if (c1.flags & kLetter) return run(p + c0.size, kLetter);
    }
    // \p{N}{1,3}+
    if (c0.flags & kNumber) return digits3(p);
    // ' ?[^\s\p{L}\p{N}]++[\r\n]*+'
    if (const std::size_t e = punctuation_end(p, c0, false); e != kNone) return e;
    return space_run(p, true, true);
}

std::size_t Scanner::upper_then_lower(std::size_t s) const {
    // U* backtracks until W+ can match: the match ends after the W run that follows the U run,
    // or else right after the last character of the U run that is also in W (Lm, Lo, M).
    std::size_t u = s;
    std::size_t last_lower_end = kNone;
    while (u < n_) {
        const CharInfo c = at(u);
        if ((c.flags & kUpperish) == 0) break;
        u += c.size;
        if (c.flags & kLowerish) last_lower_end = u;
    }
    if (u < n_ && (at(u).flags & kLowerish)) return run(u, kLowerish);
    return last_lower_end;
}

std::size_t Scanner::upper_run_then_lower(std::size_t s) const {
    if (s >= n_ || (at(s).flags & kUpperish) == 0) return kNone;
    return run(run(s, kUpperish), kLowerish);
}

std::size_t Scanner::o200k(std::size_t p) const {
    const CharInfo c0 = at(p);
    // [^\r\n\p{L}\p{N}]? before either letter alternative; not possessive, so a prefix that
    // leaves no match is given back (a mark can then start the letters itself).
    const bool prefix = (c0.flags & (kLetter | kNumber | kNewline)) == 0;
    if ((c0.flags & (kLetter | kMark)) != 0 || prefix) {
        std::size_t e = kNone;
        if (prefix) e = upper_then_lower(p + c0.size);
        if (e == kNone) e = upper_then_lower(p);
        if (e == kNone && prefix) e = upper_run_then_lower(p + c0.size);
        if (e == kNone) e = upper_run_then_lower(p);
        if (e != kNone) return contraction_end(e, true);
    }
    // \p{N}{1,3}
    if (c0.flags & kNumber) return digits3(p);
    // ' ?[^\s\p{L}\p{N}]+[\r\n/]*'
    if (const std::size_t e = punctuation_end(p, c0, true); e != kNone) return e;
    // \s*[\r\n]+ | \s+(?!\S) | \s+
    return space_run(p, true, false);
}

}  // namespace

std::size_t piece_end(SplitPattern pattern, const CharClasses& classes, std::string_view text, std::size_t pos) {
    const Scanner scanner(classes, text);
    switch (pattern) {
        case SplitPattern::r50k: return scanner.r50k(pos);
        case SplitPattern::cl100k: return scanner.cl100k(pos);
        case SplitPattern::o200k: return scanner.o200k(pos);
    }
    return text.size();
}

}  // namespace slivr::tokenizer
