// Two cuts of one text: large parent chunks, then each parent into small child chunks linked to it
// by an identifier. Three views of the result: parent/child pairs, a three-level tree, and the
// flat list of the chunker contract (each parent, when included, ahead of its children).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chunker/base.hpp"
#include "chunker/recursive.hpp"

namespace slivr {

struct HierarchicalChunkPair {
    Document parent;
    Documents children;
};

struct HierarchyNode {
    std::string id;  // "root", "parent-<p>" or "parent-<p>-child-<c>"
    Document document;
    std::vector<HierarchyNode> children;
    std::optional<std::string> parent_id;  // absent for the root
    std::uint64_t depth;                   // 0 root, 1 parent, 2 child
};

class HierarchicalChunker final : public Chunker {
public:
    // Fails with the generic error when child_size is not below parent_size; the overlaps and a
    // zero child size are left for the inner chunkers to report when they chunk.
    static Result<HierarchicalChunker> with_sizes(std::uint64_t parent_size, std::uint64_t parent_overlap,
                                                  std::uint64_t child_size, std::uint64_t child_overlap);
    // The same chunker, whose `chunk` leaves the parents out when `include` is false.
    HierarchicalChunker with_include_parents(bool include) &&;

    Result<std::vector<HierarchicalChunkPair>> chunk_hierarchical(std::string_view text) const;
    // The root holds the untrimmed input; parents hang below it and children below their parent.
    Result<HierarchyNode> chunk_tree(std::string_view text) const;
    Result<Documents> chunk(std::string_view text) const override;

    bool include_parents() const { return include_parents_; }
    std::uint64_t parent_size() const { return parent_.chunk_size; }
    std::uint64_t parent_overlap() const { return parent_.overlap; }
    std::uint64_t child_size() const { return child_.chunk_size; }
    std::uint64_t child_overlap() const { return child_.overlap; }

private:
    HierarchicalChunker(std::uint64_t parent_size, std::uint64_t parent_overlap, std::uint64_t child_size,
                        std::uint64_t child_overlap);

    RecursiveChunker parent_;
    RecursiveChunker child_;
    bool include_parents_ = true;
};

}  // namespace slivr
