#include "chunker/json.hpp"

#include <string>
#include <vector>

#include "text/json.hpp"
#include "text/unicode.hpp"

namespace slivr {
namespace {

// The serialised extent of every node of a value tree, in pre-order, with the size of each node's
// subtree so that a walk can step over children it does not visit. Measuring the tree once keeps
// the cutting linear: no value is serialised just to learn its size.
struct Node {
    json::Extent extent;
    std::size_t subtree = 1;
};

json::Extent measure(const Json& value, std::vector<Node>& nodes) {
    const std::size_t self = nodes.size();
    nodes.emplace_back();
    json::Extent extent;
    if (value.is_array()) {
        json::ContainerExtent c;
        for (const Json& element : value) c.add_element(measure(element, nodes));
        extent = c.extent();
    } else if (value.is_object()) {
        json::ContainerExtent c;
        for (const auto& [key, member] : value.get_ref<const Json::object_t&>()) {
            c.add_member(json::quoted_chars(key), measure(member, nodes));
        }
        extent = c.extent();
    } else {
        extent = json::scalar_extent(value);
    }
    nodes[self] = {extent, nodes.size() - self};
    return extent;
}

class Cutter {
public:
    Cutter(std::uint64_t max_size, const RecursiveChunker& inner, const std::vector<Node>& nodes, Documents& out)
        : max_size_(max_size), inner_(inner), nodes_(nodes), out_(out) {}

    Result<void> value(const Json& v, std::size_t node, const std::string& path) {
        if (fits(node)) {
            std::string content;
            json::write(v, content);
            emit(std::move(content), path.empty() ? "$" : path);
            return {};
        }
        if (v.is_object()) return object(v, node, path);
        if (v.is_array()) return array(v, node, path);
        auto pieces = inner_.chunk(json::to_string(v));
        if (!pieces) return fail(std::move(pieces.error()));
        for (Document& d : *pieces) out_.push_back(std::move(d));
        return {};
    }

private:
    bool fits(std::size_t node) const { return nodes_[node].extent.chars <= max_size_; }

    Result<void> object(const Json& v, std::size_t node, const std::string& path) {
        std::size_t child = node + 1;
        for (const auto& [key, member] : v.get_ref<const Json::object_t&>()) {
            const std::string member_path = path.empty() ? "$." + key : path + "." + key;
            if (auto r = value(member, child, member_path); !r) return r;
            child += nodes_[child].subtree;
        }
        return {};
    }

    Result<void> array(const Json& v, std::size_t node, const std::string& path) {
        json::ContainerExtent batch;
        std::size_t start = 0;
        std::size_t child = node + 1;
        const std::size_t n = v.size();
        for (std::size_t i = 0; i < n; ++i, child += nodes_[child].subtree) {
            const json::Extent element = nodes_[child].extent;
            if (!fits(child)) {
                if (batch.count() > 0) emit_batch(v, start, i, path);
                batch = {};
                if (auto r = value(v[i], child, path + "[" + std::to_string(i) + "]"); !r) return r;
                start = i + 1;
                continue;
            }
            batch.add_element(element);
            if (batch.extent().chars > max_size_) {
                batch.remove_last_element(element);
                if (batch.count() > 0) emit_batch(v, start, i, path);
                batch = {};
                batch.add_element(element);
                start = i;
            }
        }
        if (batch.count() > 0) emit_batch(v, start, n, path);
        return {};
    }

    void emit_batch(const Json& array, std::size_t start, std::size_t end, const std::string& path) {
        std::string content;
        json::write_array_slice(array, start, end, content);
        emit(std::move(content), path + "[" + std::to_string(start) + ".." + std::to_string(end) + "]");
    }

    void emit(std::string content, std::string path) {
        const auto length = static_cast<std::uint64_t>(content.size());
        Document doc{std::move(content)};
        doc.metadata.reserve(6);
        doc.metadata.insert_new("path", Json(std::move(path)));
        doc.metadata.insert_new("length", Json(length));
        doc.metadata.insert_new("chunk_index", Json(static_cast<std::uint64_t>(out_.size())));
        doc.metadata.insert_new("is_json", Json(true));
        out_.push_back(std::move(doc));
    }

    const std::uint64_t max_size_;
    const RecursiveChunker& inner_;
    const std::vector<Node>& nodes_;
    Documents& out_;
};

}  // namespace

JsonChunker::JsonChunker(std::uint64_t max_size) : max_size(max_size) {
    inner_.chunk_size = max_size;
    inner_.overlap = 150;
}

Result<Documents> JsonChunker::chunk(std::string_view text) const {
    if (text::is_blank(text)) return fail(SlivrError::empty_input());
    std::optional<Json> value = json::parse(text);
    if (!value) return inner_.chunk(text);
    std::vector<Node> nodes;
    measure(*value, nodes);
    Documents out;
    if (auto r = Cutter(max_size, inner_, nodes, out).value(*value, 0, ""); !r) return fail(std::move(r.error()));
    return out;
}

}  // namespace slivr
