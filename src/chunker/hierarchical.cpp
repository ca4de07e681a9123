#include "chunker/hierarchical.hpp"

#include <utility>

#include "text/utf8.hpp"

namespace slivr {
namespace {

constexpr std::size_t kPreviewChars = 100;

std::string parent_id_of(std::size_t position) { return "parent-" + std::to_string(position); }

}  // namespace

HierarchicalChunker::HierarchicalChunker(std::uint64_t parent_size, std::uint64_t parent_overlap,
                                         std::uint64_t child_size, std::uint64_t child_overlap) {
    parent_.chunk_size = parent_size;
    parent_.overlap = parent_overlap;
    child_.chunk_size = child_size;
    child_.overlap = child_overlap;
}

Result<HierarchicalChunker> HierarchicalChunker::with_sizes(std::uint64_t parent_size, std::uint64_t parent_overlap,
                                                            std::uint64_t child_size, std::uint64_t child_overlap) {
    if (child_size >= parent_size) return fail(SlivrError::generic("child_size must be smaller than parent_size"));
    return HierarchicalChunker(parent_size, parent_overlap, child_size, child_overlap);
}

HierarchicalChunker HierarchicalChunker::with_include_parents(bool include) && {
    include_parents_ = include;
    return std::move(*this);
}

Result<std::vector<HierarchicalChunkPair>> HierarchicalChunker::chunk_hierarchical(std::string_view text) const {
    auto parents = parent_.chunk(text);
    if (!parents) return fail(std::move(parents.error()));

    std::vector<HierarchicalChunkPair> pairs;
    pairs.reserve(parents->size());
    for (std::size_t p = 0; p < parents->size(); ++p) {
        Document& parent = (*parents)[p];
        auto children = child_.chunk(parent.content);
        if (!children) return fail(std::move(children.error()));

        const Json id(parent_id_of(p));
        const std::string_view content = parent.content;
        const Json preview(std::string(content.substr(0, utf8::advance(content, 0, kPreviewChars))));
        for (std::size_t c = 0; c < children->size(); ++c) {
            Metadata& m = (*children)[c].metadata;
            m.reserve(m.size() + 5);
            m.set("chunk_type", Json("child"));
            m.set("parent_id", id);
            m.set("child_index", Json(static_cast<std::uint64_t>(c)));
            m.set("depth", Json(std::uint64_t{1}));
            m.set("parent_preview", preview);
        }
        Metadata& m = parent.metadata;
        m.reserve(m.size() + 4);
        m.set("chunk_type", Json("parent"));
        m.set("parent_id", id);
        m.set("child_count", Json(static_cast<std::uint64_t>(children->size())));
        m.set("depth", Json(std::uint64_t{0}));
        pairs.push_back({std::move(parent), std::move(*children)});
    }
    return pairs;
}

Result<HierarchyNode> HierarchicalChunker::chunk_tree(std::string_view text) const {
    auto pairs = chunk_hierarchical(text);
    if (!pairs) return fail(std::move(pairs.error()));

    Metadata root_metadata;
    root_metadata.insert_new("chunk_type", Json("root"));
    root_metadata.insert_new("depth", Json(std::uint64_t{0}));
    HierarchyNode root{"root", Document{std::string(text), std::move(root_metadata)}, {}, std::nullopt, 0};
    root.children.reserve(pairs->size());
    for (HierarchicalChunkPair& pair : *pairs) {
        std::string id = pair.parent.metadata.find("parent_id")->get<std::string>();
        HierarchyNode node{id, std::move(pair.parent), {}, "root", 1};
        node.children.reserve(pair.children.size());
        for (std::size_t c = 0; c < pair.children.size(); ++c) {
            node.children.push_back({id + "-child-" + std::to_string(c), std::move(pair.children[c]), {}, id, 2});
        }
        root.children.push_back(std::move(node));
    }
    return root;
}

Result<Documents> HierarchicalChunker::chunk(std::string_view text) const {
    auto pairs = chunk_hierarchical(text);
    if (!pairs) return fail(std::move(pairs.error()));

    std::size_t total = 0;
    for (const HierarchicalChunkPair& pair : *pairs) total += pair.children.size() + (include_parents_ ? 1 : 0);
    Documents out;
    out.reserve(total);
    for (HierarchicalChunkPair& pair : *pairs) {
        if (include_parents_) out.push_back(std::move(pair.parent));
        for (Document& child : pair.children) out.push_back(std::move(child));
    }
    return out;
}

}  // namespace slivr
