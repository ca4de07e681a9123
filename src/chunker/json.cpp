#include "chunker/json.hpp"

#include <string>
#include <vector>

#include "text/json.hpp"
#include "text/unicode.hpp"

namespace slivr {
namespace {

class Cutter {
public:
    Cutter(std::uint64_t max_size, const RecursiveChunker& inner, const json::Tree& tree, Documents& out)
        : max_size_(max_size), inner_(inner), tree_(tree), out_(out) {}

    Result<void> value(std::size_t node, const std::string& path) {
        const json::Tree::Node& v = tree_[node];
        if (fits(node)) {
            emit(tree_.to_string(node), path.empty() ? "$" : path);
            return {};
        }
        if (v.kind == json::Tree::Kind::object) return object(v, path);
        if (v.kind == json::Tree::Kind::array) return array(node, path);
        auto pieces = inner_.chunk(tree_.to_string(node));
        if (!pieces) return fail(std::move(pieces.error()));
        for (Document& d : *pieces) out_.push_back(std::move(d));
        return {};
    }

private:
    bool fits(std::size_t node) const { return tree_[node].chars <= max_size_; }

    Result<void> object(const json::Tree::Node& v, const std::string& path) {
        std::string member_path = path.empty() ? "$." : path + ".";
        const std::size_t prefix = member_path.size();
        for (std::size_t child = v.first; child != 0; child = tree_[child].next) {
            member_path.resize(prefix);
            member_path += tree_[child].key();
            if (auto r = value(child, member_path); !r) return r;
        }
        return {};
    }

    Result<void> array(std::size_t node, const std::string& path) {
        const std::span<const std::uint32_t> elements = tree_.elements(node);
        json::ContainerExtent batch;
        std::size_t start = 0;
        for (std::size_t i = 0; i < elements.size(); ++i) {
            const std::size_t child = elements[i];
            const json::Extent element = tree_[child].extent();
            if (!fits(child)) {
                if (batch.count() > 0) emit_batch(elements.subspan(start, i - start), start, path);
                batch = {};
                if (auto r = value(child, path + "[" + std::to_string(i) + "]"); !r) return r;
                start = i + 1;
                continue;
            }
            batch.add_element(element);
            if (batch.extent().chars > max_size_) {
                batch.remove_last_element(element);
                if (batch.count() > 0) emit_batch(elements.subspan(start, i - start), start, path);
                batch = {};
                batch.add_element(element);
                start = i;
            }
        }
        if (batch.count() > 0) emit_batch(elements.subspan(start), start, path);
        return {};
    }

    void emit_batch(std::span<const std::uint32_t> batch, std::size_t start, const std::string& path) {
        std::string content;
        tree_.write_elements(batch, content);
        emit(std::move(content), path + "[" + std::to_string(start) + ".." + std::to_string(start + batch.size()) + "]");
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
    const json::Tree& tree_;
    Documents& out_;
};

}  // namespace

JsonChunker::JsonChunker(std::uint64_t max_size) : max_size(max_size) {
    inner_.chunk_size = max_size;
    inner_.overlap = 150;
}

Result<Documents> JsonChunker::chunk(std::string_view text) const {
    if (text::is_blank(text)) return fail(SlivrError::empty_input());
    const std::optional<json::Tree> tree = json::Tree::parse(text);
    if (!tree) return inner_.chunk(text);
    Documents out;
    if (auto r = Cutter(max_size, inner_, *tree, out).value(0, ""); !r) return fail(std::move(r.error()));
    return out;
}

}  // namespace slivr
