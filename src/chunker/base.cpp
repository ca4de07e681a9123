#include "chunker/base.hpp"

#include <mutex>
#include <optional>

#include "parallel/pool.hpp"
#include "text/unicode.hpp"

namespace slivr {
namespace {

std::vector<const Document*> pointers_to(std::span<const Document> documents) {
    std::vector<const Document*> out;
    out.reserve(documents.size());
    for (const Document& d : documents) out.push_back(&d);
    return out;
}

// The first error a parallel call records; later ones are dropped.
class ErrorSlot {
public:
    void record(SlivrError error) {
        std::lock_guard lock(mutex_);
        if (!error_) error_ = std::move(error);
    }
    std::optional<SlivrError> take() { return std::move(error_); }

private:
    std::mutex mutex_;
    std::optional<SlivrError> error_;
};

// Runs `produce(i)` for every item on the pool, collecting results in input order.
template <typename T, typename Produce>
Result<std::vector<T>> parallel_collect(std::size_t n, Produce produce) {
    std::vector<T> results(n);
    ErrorSlot slot;
    parallel::for_each_index(n, [&](std::size_t i) {
        Result<T> r = produce(i);
        if (!r) {
            slot.record(std::move(r.error()));
            return false;
        }
        results[i] = std::move(*r);
        return true;
    });
    if (auto error = slot.take()) return fail(std::move(*error));
    return results;
}

Documents flatten(std::vector<Documents>&& lists) {
    std::size_t total = 0;
    for (const Documents& l : lists) total += l.size();
    Documents out;
    out.reserve(total);
    for (Documents& l : lists) {
        for (Document& d : l) out.push_back(std::move(d));
    }
    return out;
}

}  // namespace

std::optional<SlivrError> check_chunk_input(std::string_view text, std::uint64_t size, std::uint64_t overlap) {
    if (text::is_blank(text)) return SlivrError::empty_input();
    if (size == 0) return SlivrError::invalid_chunk_size(size);
    if (overlap >= size) return SlivrError::invalid_chunk_overlap(size, overlap);
    return std::nullopt;
}

void annotate_chunks(Documents& chunks, const Document& source, std::size_t doc_index) {
    std::size_t chunk_index = 0;
    for (Document& chunk : chunks) {
        chunk.metadata.reserve(chunk.metadata.size() + source.metadata.size() + 2);
        chunk.metadata.merge_missing(source.metadata);
        chunk.metadata.set("doc_index", Json(static_cast<std::uint64_t>(doc_index)));
        chunk.metadata.set("chunk_index", Json(static_cast<std::uint64_t>(chunk_index++)));
    }
}

Result<Documents> Chunker::chunk_documents(std::span<const Document* const> documents) const {
    Documents out;
    for (std::size_t i = 0; i < documents.size(); ++i) {
        const Document& source = *documents[i];
        if (text::is_blank(source.content)) continue;
        Result<Documents> chunks = chunk(source.content);
        if (!chunks) return fail(std::move(chunks.error()));
        annotate_chunks(*chunks, source, i);
        if (out.empty()) {
            out = std::move(*chunks);
        } else {
            out.insert(out.end(), std::make_move_iterator(chunks->begin()), std::make_move_iterator(chunks->end()));
        }
    }
    return out;
}

Result<Documents> Chunker::chunk_documents(std::span<const Document> documents) const {
    const auto ptrs = pointers_to(documents);
    return chunk_documents(std::span<const Document* const>(ptrs));
}

Result<std::vector<Documents>> Chunker::par_chunk_texts(std::span<const std::string_view> texts) const {
    return parallel_collect<Documents>(texts.size(), [&](std::size_t i) -> Result<Documents> {
        if (text::is_blank(texts[i])) return Documents{};
        return chunk(texts[i]);
    });
}

Result<Documents> Chunker::par_chunk_documents(std::span<const Document* const> documents) const {
    auto lists = parallel_collect<Documents>(documents.size(), [&](std::size_t i) -> Result<Documents> {
        const Document& source = *documents[i];
        if (text::is_blank(source.content)) return Documents{};
        Result<Documents> chunks = chunk(source.content);
        if (chunks) annotate_chunks(*chunks, source, i);
        return chunks;
    });
    if (!lists) return fail(std::move(lists.error()));
    return flatten(std::move(*lists));
}

Result<Documents> Chunker::par_chunk_documents(std::span<const Document> documents) const {
    const auto ptrs = pointers_to(documents);
    return par_chunk_documents(std::span<const Document* const>(ptrs));
}

}  // namespace slivr
