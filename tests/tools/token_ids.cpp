// Prints the token ids of texts in one encoding, for comparing the tokenizer with a reference.
// Usage: slivr_token_ids <encoding> <vocabulary folder>
// Reads records from stdin (a 32-bit little-endian byte length, then the UTF-8 text) and writes,
// for each, a 32-bit count followed by that many 32-bit ids.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tokenizer/bpe.hpp"

using slivr::tokenizer::BpeTokenizer;

namespace {

bool read_exact(void* out, std::size_t size) { return std::fread(out, 1, size, stdin) == size; }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <encoding> <vocabulary folder>\n", argv[0]);
        return 2;
    }
    const std::string_view name = argv[1];
    const slivr::tokenizer::TokenEncoding* chosen = nullptr;
    for (const auto& e : slivr::tokenizer::kTokenEncodings) {
        if (slivr::tokenizer::canonical_name(e) == name) chosen = &e;
    }
    if (chosen == nullptr) {
        std::fprintf(stderr, "unknown encoding %s\n", argv[1]);
        return 2;
    }
    auto tokenizer = BpeTokenizer::load(*chosen, argv[2]);
    if (!tokenizer) {
        std::fprintf(stderr, "%s\n", tokenizer.error().message().c_str());
        return 1;
    }
    std::string text;
    std::uint32_t size;
    while (read_exact(&size, sizeof size)) {
        text.resize(size);
        if (!read_exact(text.data(), size)) {
            std::fprintf(stderr, "truncated input\n");
            return 1;
        }
        const std::vector<std::uint32_t> ids = (*tokenizer)->encode_ordinary(text);
        const auto count = static_cast<std::uint32_t>(ids.size());
        std::fwrite(&count, sizeof count, 1, stdout);
        std::fwrite(ids.data(), sizeof(std::uint32_t), ids.size(), stdout);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
