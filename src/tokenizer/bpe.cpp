#include "tokenizer/bpe.hpp"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <mutex>

namespace slivr::tokenizer {
namespace {

struct SpecialToken {
    std::string_view text;
    Rank rank;
};

struct EncodingSpec {
    std::string_view name;
    SplitPattern pattern;
    std::span<const SpecialToken> specials;
};

constexpr SpecialToken kCl100kSpecials[] = {{"<|endoftext|>", 100257}, {"<|fim_prefix|>", 100258},
                                            {"<|fim_middle|>", 100259}, {"<|fim_suffix|>", 100260},
                                            {"<|endofprompt|>", 100276}};
constexpr SpecialToken kO200kSpecials[] = {{"<|endoftext|>", 199999}, {"<|endofprompt|>", 200018}};
constexpr SpecialToken kEndOfText50k[] = {{"<|endoftext|>", 50256}};

const EncodingSpec& spec_of(TokenEncoding e) {
    static const EncodingSpec kSpecs[] = {
        {"cl100k_base", SplitPattern::cl100k, kCl100kSpecials},
        {"o200k_base", SplitPattern::o200k, kO200kSpecials},
        {"p50k_base", SplitPattern::r50k, kEndOfText50k},
        {"r50k_base", SplitPattern::r50k, kEndOfText50k},
    };
    return kSpecs[static_cast<std::size_t>(e)];
}

// Pieces up to this many bytes (most pieces that are not a token) are merged by rescanning a small
// array; longer ones through a heap, so that a long run costs O(n log n). The limit was chosen by
// counting instructions on Chinese and Japanese text, where long pieces are common.
constexpr std::size_t kShortPiece = 16;

// Byte offset of the first invalid UTF-8 sequence, or the size when all of `s` is valid.
std::size_t first_invalid_utf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        std::size_t size;
        char32_t c;
        if (b >= 0xC2 && b < 0xE0) {
            size = 2;
            c = b & 0x1F;
        } else if (b >= 0xE0 && b < 0xF0) {
            size = 3;
            c = b & 0x0F;
        } else if (b >= 0xF0 && b < 0xF5) {
            size = 4;
            c = b & 0x07;
        } else {
            return i;
        }
        if (size > n - i) return i;
        for (std::size_t k = 1; k < size; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return i;
            c = (c << 6) | (p[i + k] & 0x3F);
        }
        if ((size == 3 && c < 0x800) || (size == 4 && (c < 0x10000 || c > 0x10FFFF)) || (c >= 0xD800 && c < 0xE000)) {
            return i;
        }
        i += size;
    }
    return n;
}

}  // namespace

std::string_view canonical_name(TokenEncoding encoding) { return spec_of(encoding).name; }

BpeTokenizer::BpeTokenizer(TokenEncoding encoding, Vocabulary vocabulary)
    : encoding_(encoding), pattern_(spec_of(encoding).pattern), vocab_(std::move(vocabulary)) {}

std::string BpeTokenizer::vocabulary_directory() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&BpeTokenizer::vocabulary_directory), &info) == 0 || info.dli_fname == nullptr) {
        return "vocab";
    }
    std::string path = info.dli_fname;
    const std::size_t slash = path.rfind('/');
    path.resize(slash == std::string::npos ? 0 : slash + 1);
    return path + "vocab";
}

Result<std::shared_ptr<const BpeTokenizer>> BpeTokenizer::load(TokenEncoding encoding, const std::string& directory) {
    auto vocab = Vocabulary::load(directory + "/" + std::string(canonical_name(encoding)) + ".tiktoken");
    if (!vocab) return fail(std::move(vocab.error()));
    return std::make_shared<const BpeTokenizer>(encoding, std::move(*vocab));
}

Result<std::shared_ptr<const BpeTokenizer>> BpeTokenizer::shared(TokenEncoding encoding) {
    // Loaded once and never changed, so chunkers share it without locks; a failed load is not
    // remembered, so a later call tries again.
    static std::mutex mutex;
    static std::array<std::shared_ptr<const BpeTokenizer>, std::size(kTokenEncodings)> loaded;
    const std::lock_guard lock(mutex);
    auto& slot = loaded[static_cast<std::size_t>(encoding)];
    if (!slot) {
        auto fresh = load(encoding, vocabulary_directory());
        if (!fresh) return fail(std::move(fresh.error()));
        slot = std::move(*fresh);
    }
    return slot;
}

template <typename Emit>
void BpeTokenizer::encode_with(std::string_view text, Emit&& emit) const {
    const CharClasses& classes = CharClasses::get();
    std::vector<Rank> merged;
    LongMerge scratch;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = piece_end(pattern_, classes, text, pos);
        const std::string_view piece = text.substr(pos, end - pos);
        if (const Rank whole = vocab_.rank(piece); whole != kNoRank) {
            emit(whole, end);
        } else {
            merged.clear();
            if (piece.size() <= kShortPiece) {
                merge_short(piece, merged);
            } else {
                merge_long(piece, merged, scratch);
            }
            std::size_t at = pos;
            for (const Rank r : merged) {
                at += vocab_.token_size(r);
                emit(r, at);
            }
        }
        pos = end;
    }
}

std::vector<Rank> BpeTokenizer::encode_ordinary(std::string_view text) const {
    std::vector<Rank> out;
    out.reserve(text.size() / 4 + 1);
    encode_with(text, [&](Rank r, std::size_t) { out.push_back(r); });
    return out;
}

std::size_t BpeTokenizer::count_tokens(std::string_view text) const {
    std::size_t n = 0;
    encode_with(text, [&](Rank, std::size_t) { ++n; });
    return n;
}

std::vector<std::uint16_t> BpeTokenizer::token_sizes(std::string_view text) const {
    std::vector<std::uint16_t> out;
    out.reserve(text.size() / 4 + 1);
    std::size_t last = 0;
    encode_with(text, [&](Rank, std::size_t end) {
        out.push_back(static_cast<std::uint16_t>(end - last));  // a token has at most 0xFFFF bytes
        last = end;
    });
    return out;
}

// The pair of lowest rank is merged first, the leftmost among equal ranks; the merged token's
// rank is the pair's rank, since a pair is only mergeable when its bytes are a token. Parts form
// a linked list over byte positions (a part is named by its first byte); a merged-away part keeps
// its slot with no pair, so finding the next merge is one scan over a few ranks.
void BpeTokenizer::merge_short(std::string_view piece, std::vector<Rank>& out) const {
    const auto* p = reinterpret_cast<const unsigned char*>(piece.data());
    const std::size_t n = piece.size();
    Rank pair[kShortPiece];   // rank of this part joined with the next, or kNoRank
    Rank token[kShortPiece];  // rank of the part's bytes
    std::uint8_t next[kShortPiece];
    std::uint8_t prev[kShortPiece];
    for (std::size_t i = 0; i < n; ++i) {
        pair[i] = i + 1 < n ? vocab_.pair_rank(p[i], p[i + 1]) : kNoRank;
        token[i] = vocab_.byte_rank(p[i]);
        next[i] = static_cast<std::uint8_t>(i + 1);
        prev[i] = static_cast<std::uint8_t>(i - 1);
    }
    // Part i ends where part next[i] starts (at n for the last part).
    auto pair_of = [&](std::size_t i) {
        const std::size_t j = next[i];
        return j < n ? vocab_.rank(piece.substr(i, next[j] - i)) : kNoRank;
    };
    for (;;) {
        Rank best = kNoRank;
        std::size_t i = 0;
        for (std::size_t k = 0; k < n; ++k) {
            if (pair[k] < best) {
                best = pair[k];
                i = k;
            }
        }
        if (best == kNoRank) break;
        const std::size_t j = next[i];
        token[i] = best;
        pair[j] = kNoRank;
        next[i] = next[j];
        if (next[i] < n) prev[next[i]] = static_cast<std::uint8_t>(i);
        pair[i] = pair_of(i);
        if (i > 0) pair[prev[i]] = pair_of(prev[i]);
    }
    for (std::size_t i = 0; i < n; i = next[i]) out.push_back(token[i]);
}

void BpeTokenizer::merge_long(std::string_view piece, std::vector<Rank>& out, LongMerge& m) const {
    // Parts are linked lists over byte positions: a part is named by its first byte.
    const auto* p = reinterpret_cast<const unsigned char*>(piece.data());
    const auto n = static_cast<std::uint32_t>(piece.size());
    m.next.resize(n);
    m.prev.resize(n);
    m.token.resize(n);
    m.pair.resize(n);  // kNoRank for a part that no longer exists
    // Heap entries are (rank << 32 | position): the smallest is the lowest rank, leftmost first.
    m.heap.clear();
    auto push = [&](std::uint32_t i) {
        m.heap.push_back((std::uint64_t{m.pair[i]} << 32) | i);
        std::push_heap(m.heap.begin(), m.heap.end(), std::greater<>());
    };
    for (std::uint32_t i = 0; i < n; ++i) {
        m.next[i] = i + 1;
        m.prev[i] = i - 1;
        m.token[i] = vocab_.byte_rank(p[i]);
        m.pair[i] = i + 1 < n ? vocab_.pair_rank(p[i], p[i + 1]) : kNoRank;
        if (m.pair[i] != kNoRank) m.heap.push_back((std::uint64_t{m.pair[i]} << 32) | i);
    }
    std::make_heap(m.heap.begin(), m.heap.end(), std::greater<>());
    auto update = [&](std::uint32_t i) {
        const std::uint32_t j = m.next[i];
        m.pair[i] = j < n ? vocab_.rank(piece.substr(i, m.next[j] - i)) : kNoRank;
        if (m.pair[i] != kNoRank) push(i);
    };
    while (!m.heap.empty()) {
        std::pop_heap(m.heap.begin(), m.heap.end(), std::greater<>());
        const std::uint64_t top = m.heap.back();
        m.heap.pop_back();
        const auto i = static_cast<std::uint32_t>(top);
        const auto rank = static_cast<Rank>(top >> 32);
        // Stale entries: the part is gone or its pair changed (a changed pair spans other bytes,
        // so its rank differs).
        if (m.pair[i] != rank) continue;
        const std::uint32_t j = m.next[i];
        m.token[i] = rank;
        m.next[i] = m.next[j];
        if (m.next[j] < n) m.prev[m.next[j]] = i;
        m.pair[j] = kNoRank;
        update(i);
        if (i > 0) update(m.prev[i]);
    }
    for (std::uint32_t i = 0; i < n; i = m.next[i]) out.push_back(m.token[i]);
}

Result<std::string> BpeTokenizer::decode(std::span<const Rank> tokens) const {
    std::string out;
    for (const Rank r : tokens) {
        std::string_view bytes = vocab_.token(r);
        if (bytes.empty()) {
            for (const SpecialToken& s : spec_of(encoding_).specials) {
                if (s.rank == r) bytes = s.text;
            }
        }
        if (bytes.empty()) return fail(SlivrError::tokenizer("unknown token " + std::to_string(r)));
        out += bytes;
    }
    if (const std::size_t bad = first_invalid_utf8(out); bad != out.size()) {
        return fail(SlivrError::tokenizer("decoded bytes are not valid UTF-8 (at byte " + std::to_string(bad) + ")"));
    }
    return out;
}

}  // namespace slivr::tokenizer
