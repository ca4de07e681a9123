#include "python/document_type.hpp"

#include <new>
#include <string>

#include "python/args.hpp"
#include "python/convert.hpp"
#include "python/guard.hpp"
#include "text/utf8.hpp"

namespace slivr::py {
namespace {

PyTypeObject* g_document_type = nullptr;

constexpr const char* kParamNames[] = {"content", "metadata"};
constexpr Params kParams{"Document", kParamNames, 1};

PyDocument* as_doc(PyObject* self) { return reinterpret_cast<PyDocument*>(self); }

PyObject* document_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* slots[2];
    if (!bind(kParams, args, kwargs, slots)) return nullptr;
    auto content = to_str("content", slots[0]);
    if (!content) return nullptr;
    Metadata metadata;
    if (slots[1] != nullptr && slots[1] != Py_None) {
        if (!PyDict_Check(slots[1])) {
            raise_argument_error("metadata", cannot_convert(slots[1], "PyDict"));
            return nullptr;
        }
        auto converted = dict_to_metadata(slots[1]);
        if (!converted) return nullptr;
        metadata = std::move(*converted);
    }
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    new (&as_doc(self)->doc) Document(std::string(*content), std::move(metadata));
    return self;
}

void document_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    as_doc(self)->doc.~Document();
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* content_of(const Document& doc) {
    return PyUnicode_DecodeUTF8(doc.content.data(), static_cast<Py_ssize_t>(doc.content.size()), "strict");
}

PyObject* get_content(PyObject* self, void*) { return content_of(as_doc(self)->doc); }

PyObject* get_metadata(PyObject* self, void*) { return metadata_to_py(as_doc(self)->doc.metadata); }

PyObject* to_dict(PyObject* self, PyObject*) {
    Ref dict(PyDict_New());
    if (!dict) return nullptr;
    Ref content(get_content(self, nullptr));
    if (!content || PyDict_SetItemString(dict.get(), "content", content.get()) < 0) return nullptr;
    Ref metadata(get_metadata(self, nullptr));
    if (!metadata || PyDict_SetItemString(dict.get(), "metadata", metadata.get()) < 0) return nullptr;
    return dict.release();
}

// (Document, (content, metadata)): pickle and copy rebuild an equal document from its values.
PyObject* document_reduce(PyObject* self, PyObject*) {
    Ref content(get_content(self, nullptr));
    Ref metadata(get_metadata(self, nullptr));
    if (!content || !metadata) return nullptr;
    Ref args(PyTuple_Pack(2, content.get(), metadata.get()));
    if (!args) return nullptr;
    return PyTuple_Pack(2, reinterpret_cast<PyObject*>(Py_TYPE(self)), args.get());
}

PyObject* document_repr(PyObject* self) {
    const std::string& content = as_doc(self)->doc.content;
    const std::size_t preview_end = utf8::advance(content, 0, 50);
    std::string text = "Document(content='";
    text.reserve(text.size() + preview_end + 32);
    for (std::size_t i = 0; i < preview_end; ++i) text += content[i] == '\n' ? ' ' : content[i];
    text += "...', len=" + std::to_string(content.size()) + ")";
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
}

Py_ssize_t document_len(PyObject* self) { return static_cast<Py_ssize_t>(as_doc(self)->doc.content.size()); }

PyGetSetDef kGetSet[] = {
    {"content", guarded<get_content>, nullptr, nullptr, nullptr},
    {"metadata", guarded<get_metadata>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef kMethods[] = {
    {"to_dict", guarded<to_dict>, METH_NOARGS, "to_dict($self)\n--\n\n"},
    {"__reduce__", guarded<document_reduce>, METH_NOARGS, "__reduce__($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>("Document(content, metadata=None)\n--\n\n"
                                  "A document chunk holding text content and metadata")},
    {Py_tp_new, reinterpret_cast<void*>(guarded<document_new>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(document_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(guarded<document_repr>)},
    {Py_sq_length, reinterpret_cast<void*>(guarded<document_len>)},
    {Py_tp_getset, kGetSet},
    {Py_tp_methods, kMethods},
    {0, nullptr},
};

PyType_Spec kSpec{"slivr.Document", sizeof(PyDocument), 0, Py_TPFLAGS_DEFAULT, kSlots};

}  // namespace

PyObject* create_document_type(PyObject*) {
    if (g_document_type == nullptr) {
        g_document_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&kSpec));
        if (g_document_type == nullptr) return nullptr;
    }
    Py_INCREF(g_document_type);
    return reinterpret_cast<PyObject*>(g_document_type);
}

PyObject* wrap_doc(Document&& doc) {
    PyObject* self = g_document_type->tp_alloc(g_document_type, 0);
    if (self == nullptr) return nullptr;
    new (&as_doc(self)->doc) Document(std::move(doc));
    return self;
}

PyObject* wrap_docs(Documents&& docs) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(docs.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < docs.size(); ++i) {
        PyObject* item = wrap_doc(std::move(docs[i]));
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

std::optional<std::vector<const Document*>> par_chunk_docs_helper(const char* arg, PyObject* value, Ref& keep) {
    auto items = to_sequence(arg, value, keep);
    if (!items) return std::nullopt;
    std::vector<const Document*> out;
    out.reserve(items->size());
    for (PyObject* item : *items) {
        if (Py_TYPE(item) != g_document_type) {
            raise_argument_error(arg, cannot_convert(item, "Document"));
            return std::nullopt;
        }
        out.push_back(&as_doc(item)->doc);
    }
    return out;
}

}  // namespace slivr::py
