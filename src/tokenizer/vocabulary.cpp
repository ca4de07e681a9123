#include "tokenizer/vocabulary.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace slivr::tokenizer {
namespace {

// Ranks above this are refused: the tables are indexed by rank.
constexpr Rank kMaxRank = 1u << 24;

std::uint64_t load64(const unsigned char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

std::uint32_t load32(const unsigned char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

std::uint64_t mix(std::uint64_t a, std::uint64_t b) {
    const unsigned __int128 r = static_cast<unsigned __int128>(a ^ 0x2d358dccaa6c78a5ULL) * (b ^ 0x8bb84b93962eacc9ULL);
    return static_cast<std::uint64_t>(r) ^ static_cast<std::uint64_t>(r >> 64);
}

// A fast hash for short byte strings (tokens are at most a few hundred bytes); reads no byte
// outside the string.
std::uint64_t hash_bytes(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    std::uint64_t a;
    std::uint64_t b;
    std::uint64_t seed = n * 0x9E3779B97F4A7C15ULL;
    if (n <= 16) {
        if (n >= 8) {
            a = load64(p);
            b = load64(p + n - 8);
        } else if (n >= 4) {
            a = load32(p);
            b = load32(p + n - 4);
        } else {
            a = n == 0 ? 0 : (std::uint64_t{p[0]} << 16) | (std::uint64_t{p[n >> 1]} << 8) | p[n - 1];
            b = 0;
        }
    } else {
        std::size_t i = 0;
        for (; i + 16 < n; i += 16) seed = mix(load64(p + i) ^ seed, load64(p + i + 8) ^ 0xe7037ed1a0b428dbULL);
        a = load64(p + n - 16);
        b = load64(p + n - 8);
    }
    return mix(a ^ 0xa0761d6478bd642fULL, b ^ seed);
}

// -1 for a byte outside the base64 alphabet.
struct Base64Table {
    signed char value[256];
    constexpr Base64Table() : value{} {
        for (int i = 0; i < 256; ++i) value[i] = -1;
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i) value[static_cast<unsigned char>(alphabet[i])] = static_cast<signed char>(i);
    }
};
constexpr Base64Table kBase64;

// Appends the decoded bytes of padded base64 text to `out`; false when the text is malformed.
bool decode_base64(std::string_view text, std::string& out) {
    if (text.empty() || text.size() % 4 != 0) return false;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int v[4];
        int pad = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + k];
            if (c == '=' && last && k >= 2) {
                v[k] = 0;
                ++pad;
                continue;
            }
            if (pad > 0) return false;
            v[k] = kBase64.value[static_cast<unsigned char>(c)];
            if (v[k] < 0) return false;
        }
        const std::uint32_t word = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
        out.push_back(static_cast<char>(word >> 16));
        if (pad < 2) out.push_back(static_cast<char>(word >> 8));
        if (pad < 1) out.push_back(static_cast<char>(word));
    }
    return true;
}

SlivrError bad_line(std::string_view source, std::size_t line, std::string_view why) {
    return SlivrError::tokenizer("invalid vocabulary file " + std::string(source) + ", line " +
                                 std::to_string(line) + ": " + std::string(why));
}

}  // namespace

Result<Vocabulary> Vocabulary::load(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return fail(SlivrError::tokenizer("cannot open vocabulary file " + path + ": " + std::strerror(errno)));
    }
    std::string contents;
    char buffer[1 << 16];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) contents.append(buffer, got);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return fail(SlivrError::tokenizer("cannot read vocabulary file " + path));
    return parse(contents, path);
}

Result<Vocabulary> Vocabulary::parse(std::string_view contents, std::string_view source) {
    struct Entry {
        Rank rank;
        std::uint32_t start;
        std::uint32_t size;
    };
    std::vector<Entry> entries;
    std::string scratch;
    scratch.reserve(contents.size());
    std::size_t line_no = 0;
    Rank max_rank = 0;
    for (std::size_t pos = 0; pos < contents.size();) {
        std::size_t eol = contents.find('\n', pos);
        if (eol == std::string_view::npos) eol = contents.size();
        std::string_view line = contents.substr(pos, eol - pos);
        pos = eol + 1;
        ++line_no;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        const std::size_t blank = line.find(' ');
        if (blank == std::string_view::npos) return fail(bad_line(source, line_no, "expected a token and a rank"));
        const std::size_t start = scratch.size();
        if (!decode_base64(line.substr(0, blank), scratch)) return fail(bad_line(source, line_no, "invalid base64"));
        if (scratch.size() - start > 0xFFFF) return fail(bad_line(source, line_no, "token too long"));
        const std::string_view digits = line.substr(blank + 1);
        Rank rank = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), rank);
        if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty() || rank >= kMaxRank) {
            return fail(bad_line(source, line_no, "invalid rank"));
        }
        max_rank = std::max(max_rank, rank);
        entries.push_back({rank, static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(scratch.size() - start)});
    }
    if (entries.empty()) return fail(SlivrError::tokenizer("vocabulary file " + std::string(source) + " is empty"));

    const auto by_rank = [](const Entry& a, const Entry& b) { return a.rank < b.rank; };
    if (!std::is_sorted(entries.begin(), entries.end(), by_rank)) std::sort(entries.begin(), entries.end(), by_rank);
    Vocabulary v;
    v.count_ = entries.size();
    v.bytes_.reserve(scratch.size());
    v.offsets_.assign(std::size_t{max_rank} + 2, 0);
    std::size_t next = 0;
    for (Rank r = 0; r <= max_rank; ++r) {
        v.offsets_[r] = static_cast<std::uint32_t>(v.bytes_.size());
        if (next < entries.size() && entries[next].rank == r) {
            if (next + 1 < entries.size() && entries[next + 1].rank == r) {
                return fail(SlivrError::tokenizer("vocabulary file " + std::string(source) + " gives rank " +
                                                  std::to_string(r) + " twice"));
            }
            v.bytes_.append(scratch, entries[next].start, entries[next].size);
            v.max_token_size_ = std::max<std::size_t>(v.max_token_size_, entries[next].size);
            ++next;
        }
    }
    v.offsets_[std::size_t{max_rank} + 1] = static_cast<std::uint32_t>(v.bytes_.size());

    std::fill(std::begin(v.byte_ranks_), std::end(v.byte_ranks_), kNoRank);
    v.pair_ranks_.assign(1 << 16, kNoRank);
    for (Rank r = 0; r <= max_rank; ++r) {
        const std::string_view t = v.token(r);
        Rank* slot = nullptr;
        if (t.size() == 1) slot = &v.byte_ranks_[static_cast<unsigned char>(t[0])];
        if (t.size() == 2) slot = &v.pair_ranks_[(static_cast<unsigned char>(t[0]) << 8) | static_cast<unsigned char>(t[1])];
        if (slot == nullptr) continue;
        if (*slot != kNoRank) {
            return fail(SlivrError::tokenizer("vocabulary file " + std::string(source) + " lists a token twice"));
        }
        *slot = r;
    }
    // Merging starts from single bytes, so every byte must be a token of its own.
    if (std::find(std::begin(v.byte_ranks_), std::end(v.byte_ranks_), kNoRank) != std::end(v.byte_ranks_)) {
        return fail(SlivrError::tokenizer("vocabulary file " + std::string(source) + " lacks a single-byte token"));
    }
    if (!v.build_index()) {
        return fail(SlivrError::tokenizer("vocabulary file " + std::string(source) + " lists a token twice"));
    }
    return v;
}

std::uint64_t Vocabulary::long_hash(std::string_view bytes) { return hash_bytes(bytes); }

bool Vocabulary::build_index() {
    std::size_t long_tokens = 0;
    for (Rank r = 0; r + 1 < offsets_.size(); ++r) long_tokens += token_size(r) > 2;
    // At most a load of one half keeps linear probing short.
    const std::size_t capacity = std::bit_ceil(std::max<std::size_t>(1 << 16, long_tokens * 2));
    slots_.assign(capacity, Slot{});
    tags_.assign(capacity, 0);
    mask_ = capacity - 1;
    shift_ = 64 - static_cast<unsigned>(std::countr_zero(capacity));
    for (Rank r = 0; r + 1 < offsets_.size(); ++r) {
        const std::string_view t = token(r);
        if (t.size() <= 2) continue;
        const auto* p = reinterpret_cast<const unsigned char*>(t.data());
        const std::uint64_t head = t.size() <= 8 ? short_head(p, t.size()) : long_head(p);
        const std::uint64_t hash = t.size() <= 8 ? short_hash(head, t.size()) : long_hash(t);
        if (find(t, head, hash) != kNoRank) return false;
        for (std::size_t i = hash >> shift_;; i = (i + 1) & mask_) {
            if (tags_[i] == 0) {
                slots_[i] = {head, r, static_cast<std::uint32_t>(t.size())};
                tags_[i] = static_cast<std::uint16_t>((hash >> (shift_ - 16)) | 1);
                break;
            }
        }
    }
    return true;
}

}  // namespace slivr::tokenizer
