// The contract every chunker fulfils, and the batch operations written once on top of `chunk`.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "error/error.hpp"
#include "structures/document.hpp"

namespace slivr {

class Chunker {
public:
    virtual ~Chunker() = default;

    // The chunks of one text, in text order. Must be safe to call from several threads at once.
    virtual Result<Documents> chunk(std::string_view text) const = 0;

    // Chunks each document in turn (blank ones are skipped), annotating every chunk with the source
    // metadata it lacks, "doc_index" and a per-document "chunk_index". The first failure ends the call.
    Result<Documents> chunk_documents(std::span<const Document* const> documents) const;
    Result<Documents> chunk_documents(std::span<const Document> documents) const;

    // One chunk list per text, computed on the worker pool; blank texts give empty lists.
    Result<std::vector<Documents>> par_chunk_texts(std::span<const std::string_view> texts) const;

    // `chunk_documents` computed on the worker pool; same result when no document fails.
    Result<Documents> par_chunk_documents(std::span<const Document* const> documents) const;
    Result<Documents> par_chunk_documents(std::span<const Document> documents) const;
};

// The checks a sized chunker makes before cutting, in their fixed order: the text is not blank,
// the size is not 0, the overlap is below the size.
std::optional<SlivrError> check_chunk_input(std::string_view text, std::uint64_t size, std::uint64_t overlap);

// Sets "doc_index" and "chunk_index" on the chunks of one source document and gives them the
// source's metadata keys they lack.
void annotate_chunks(Documents& chunks, const Document& source, std::size_t doc_index);

}  // namespace slivr
