#include "chunker/hierarchical.hpp"
#include "python/classes.hpp"
#include "python/document_type.hpp"

namespace slivr::py {
namespace {

constexpr const char* kParams[] = {"parent_size", "parent_overlap", "child_size", "child_overlap", "include_parents"};
constexpr const char* kTextParam[] = {"text"};

// Only a real bool: 0 and 1, or any other truthy object, are refused rather than guessed at.
std::optional<bool> to_bool(const char* arg, PyObject* value) {
    if (!PyBool_Check(value)) {
        raise_argument_error(arg, cannot_convert(value, "PyBool"));
        return std::nullopt;
    }
    return value == Py_True;
}

std::unique_ptr<Chunker> build(PyObject* const* args) {
    const auto parent_size = args[0] ? to_u64("parent_size", args[0]) : 2000;
    if (!parent_size) return nullptr;
    const auto parent_overlap = args[1] ? to_u64("parent_overlap", args[1]) : 200;
    if (!parent_overlap) return nullptr;
    const auto child_size = args[2] ? to_u64("child_size", args[2]) : 400;
    if (!child_size) return nullptr;
    const auto child_overlap = args[3] ? to_u64("child_overlap", args[3]) : 50;
    if (!child_overlap) return nullptr;
    const auto include_parents = args[4] ? to_bool("include_parents", args[4]) : true;
    if (!include_parents) return nullptr;
    auto chunker = HierarchicalChunker::with_sizes(*parent_size, *parent_overlap, *child_size, *child_overlap);
    if (!chunker) {
        raise_error(chunker.error());
        return nullptr;
    }
    return std::make_unique<HierarchicalChunker>(std::move(*chunker).with_include_parents(*include_parents));
}

const HierarchicalChunker& hierarchical(PyObject* self) {
    return static_cast<const HierarchicalChunker&>(native(self));
}

enum Key { kId, kParentId, kDepth, kDocument, kChildren, kParent, kKeyCount };
constexpr const char* kKeyNames[kKeyCount] = {"id", "parent_id", "depth", "document", "children", "parent"};

// The dictionary keys, made once for the life of the process: a tree has five keys per node, and
// building and hashing a new str for each would cost more than the node itself.
PyObject* key(Key k) {
    static PyObject* keys[kKeyCount] = {};
    if (keys[k] == nullptr) keys[k] = PyUnicode_InternFromString(kKeyNames[k]);
    return keys[k];
}

// Sets `k` in `dict` to `value`, taking over the new reference; false (exception set) on failure.
bool set_item(PyObject* dict, Key k, PyObject* value) {
    Ref owned(value);
    PyObject* name = key(k);
    return owned && name != nullptr && PyDict_SetItem(dict, name, owned.get()) == 0;
}

PyObject* pair_to_py(HierarchicalChunkPair&& pair) {
    Ref dict(PyDict_New());
    if (!dict) return nullptr;
    if (!set_item(dict.get(), kParent, wrap_doc(std::move(pair.parent)))) return nullptr;
    if (!set_item(dict.get(), kChildren, wrap_docs(std::move(pair.children)))) return nullptr;
    return dict.release();
}

PyObject* to_py_str(std::string_view s) {
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

// Nodes nest three levels deep at most (root, parent, child), so recursion is bounded.
PyObject* node_to_py(HierarchyNode&& node) {
    Ref children(PyList_New(static_cast<Py_ssize_t>(node.children.size())));
    if (!children) return nullptr;
    for (std::size_t i = 0; i < node.children.size(); ++i) {
        PyObject* child = node_to_py(std::move(node.children[i]));
        if (child == nullptr) return nullptr;
        PyList_SET_ITEM(children.get(), static_cast<Py_ssize_t>(i), child);
    }
    Ref dict(PyDict_New());
    if (!dict) return nullptr;
    if (!set_item(dict.get(), kId, to_py_str(node.id)) ||
        !set_item(dict.get(), kParentId, node.parent_id ? to_py_str(*node.parent_id) : Py_NewRef(Py_None)) ||
        !set_item(dict.get(), kDepth, PyLong_FromUnsignedLongLong(node.depth)) ||
        !set_item(dict.get(), kDocument, wrap_doc(std::move(node.document))) ||
        !set_item(dict.get(), kChildren, children.release()))
        return nullptr;
    return dict.release();
}

std::optional<std::string_view> text_argument(const char* method, PyObject* const* args, Py_ssize_t nargs,
                                              PyObject* kwnames) {
    PyObject* arg = nullptr;
    if (!bind({method, kTextParam, 1}, args, nargs, kwnames, &arg)) return std::nullopt;
    return to_str("text", arg);
}

PyObject* chunk_hierarchical(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const auto text = text_argument("chunk_hierarchical", args, nargs, kwnames);
    if (!text) return nullptr;
    auto pairs = hierarchical(self).chunk_hierarchical(*text);
    if (!pairs) return raise_error(pairs.error());
    Ref list(PyList_New(static_cast<Py_ssize_t>(pairs->size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < pairs->size(); ++i) {
        PyObject* pair = pair_to_py(std::move((*pairs)[i]));
        if (pair == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), pair);
    }
    return list.release();
}

PyObject* chunk_tree(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const auto text = text_argument("chunk_tree", args, nargs, kwnames);
    if (!text) return nullptr;
    auto root = hierarchical(self).chunk_tree(*text);
    if (!root) return raise_error(root.error());
    return node_to_py(std::move(*root));
}

PyMethodDef kMethods[] = {
    {"chunk_hierarchical", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(guarded<chunk_hierarchical>)),
     METH_FASTCALL | METH_KEYWORDS, "chunk_hierarchical($self, text)\n--\n\n"},
    {"chunk_tree", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(guarded<chunk_tree>)),
     METH_FASTCALL | METH_KEYWORDS, "chunk_tree($self, text)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* arguments(const Chunker& chunker) {
    const auto& c = static_cast<const HierarchicalChunker&>(chunker);
    return reduce_args(c.parent_size(), c.parent_overlap(), c.child_size(), c.child_overlap(), c.include_parents());
}

}  // namespace

const ChunkerClass kHierarchicalChunkerClass{
    "HierarchicalChunker",
    "(parent_size=2000, parent_overlap=200, child_size=400, child_overlap=50, include_parents=True)",
    {"HierarchicalChunker", kParams, 0},
    build,
    kMethods,
    arguments};

}  // namespace slivr::py
