#include "python/chunker_type.hpp"

#include <string>
#include <vector>

#include "python/document_type.hpp"

namespace slivr::py {
namespace {

// Each class remembers its description; looked up on construction (a handful of classes).
std::vector<std::pair<PyTypeObject*, const ChunkerClass*>> g_classes;

const ChunkerClass* class_of(PyTypeObject* type) {
    for (const auto& [t, cls] : g_classes) {
        if (t == type) return cls;
    }
    return nullptr;
}

PyObject* chunker_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    const ChunkerClass* cls = class_of(type);
    if (cls == nullptr) {
        PyErr_SetString(PyExc_TypeError, "unknown chunker class");
        return nullptr;
    }
    PyObject* slots[8];
    if (!bind(cls->params, args, kwargs, slots)) return nullptr;
    std::unique_ptr<Chunker> chunker = cls->build(slots);
    if (!chunker) return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    reinterpret_cast<PyChunker*>(self)->chunker = chunker.release();
    return self;
}

void chunker_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete reinterpret_cast<PyChunker*>(self)->chunker;
    type->tp_free(self);
    Py_DECREF(type);
}

template <typename T>
PyObject* finish(Result<T>&& result, PyObject* (*wrap)(T&&)) {
    if (!result) return raise_error(result.error());
    return wrap(std::move(*result));
}

PyObject* wrap_lists(std::vector<Documents>&& lists) {
    Ref out(PyList_New(static_cast<Py_ssize_t>(lists.size())));
    if (!out) return nullptr;
    for (std::size_t i = 0; i < lists.size(); ++i) {
        PyObject* inner = wrap_docs(std::move(lists[i]));
        if (inner == nullptr) return nullptr;
        PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), inner);
    }
    return out.release();
}

constexpr const char* kTextParam[] = {"text"};
constexpr const char* kTextsParam[] = {"texts"};
constexpr const char* kDocsParam[] = {"docs"};

PyObject* chunk(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* arg = nullptr;
    if (!bind({"chunk", kTextParam, 1}, args, nargs, kwnames, &arg)) return nullptr;
    auto text = to_str("text", arg);
    if (!text) return nullptr;
    return finish<Documents>(native(self).chunk(*text), wrap_docs);
}

PyObject* chunk_documents(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* arg = nullptr;
    if (!bind({"chunk_documents", kDocsParam, 1}, args, nargs, kwnames, &arg)) return nullptr;
    Ref keep;
    auto docs = par_chunk_docs_helper("docs", arg, keep);
    if (!docs) return nullptr;
    return finish<Documents>(native(self).chunk_documents(*docs), wrap_docs);
}

PyObject* par_chunk_texts(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* arg = nullptr;
    if (!bind({"par_chunk_texts", kTextsParam, 1}, args, nargs, kwnames, &arg)) return nullptr;
    Ref keep;
    auto texts = to_str_views("texts", arg, keep);
    if (!texts) return nullptr;
    return finish<std::vector<Documents>>(native(self).par_chunk_texts(*texts), wrap_lists);
}

PyObject* par_chunk_documents(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* arg = nullptr;
    if (!bind({"par_chunk_documents", kDocsParam, 1}, args, nargs, kwnames, &arg)) return nullptr;
    Ref keep;
    auto docs = par_chunk_docs_helper("docs", arg, keep);
    if (!docs) return nullptr;
    return finish<Documents>(native(self).par_chunk_documents(*docs), wrap_docs);
}

// (type, constructor arguments): pickle and copy rebuild the chunker by calling its class.
PyObject* reduce_chunker(PyObject* self, PyObject*) {
    const ChunkerClass* cls = class_of(Py_TYPE(self));
    if (cls == nullptr || cls->reduce == nullptr) {
        return PyErr_Format(PyExc_TypeError, "cannot pickle '%s' object", Py_TYPE(self)->tp_name);
    }
    Ref args(cls->reduce(native(self)));
    if (!args) return nullptr;
    return PyTuple_Pack(2, reinterpret_cast<PyObject*>(Py_TYPE(self)), args.get());
}

constexpr int kFastCall = METH_FASTCALL | METH_KEYWORDS;

template <typename F>
PyCFunction as_cfunction(F f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

const PyMethodDef kCommonMethods[] = {
    {"chunk", as_cfunction(guarded<chunk>), kFastCall, "chunk($self, text)\n--\n\n"},
    {"chunk_documents", as_cfunction(guarded<chunk_documents>), kFastCall, "chunk_documents($self, docs)\n--\n\n"},
    {"par_chunk_texts", as_cfunction(guarded<par_chunk_texts>), kFastCall, "par_chunk_texts($self, texts)\n--\n\n"},
    {"par_chunk_documents", as_cfunction(guarded<par_chunk_documents>), kFastCall,
     "par_chunk_documents($self, docs)\n--\n\n"},
    {"__reduce__", guarded<reduce_chunker>, METH_NOARGS, "__reduce__($self)\n--\n\n"},
};

}  // namespace

PyObject* to_py(std::uint64_t value) { return PyLong_FromUnsignedLongLong(value); }

PyObject* to_py(double value) { return PyFloat_FromDouble(value); }

PyObject* to_py(bool value) { return Py_NewRef(value ? Py_True : Py_False); }

PyObject* to_py(std::string_view value) {
    return PyUnicode_DecodeUTF8(value.data(), static_cast<Py_ssize_t>(value.size()), "strict");
}

PyObject* to_py(const std::optional<std::uint64_t>& value) {
    return value ? to_py(*value) : Py_NewRef(Py_None);
}

PyObject* to_py(const std::vector<std::string>& values) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(values.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyObject* item = to_py(std::string_view(values[i]));
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

PyObject* raise_error(const SlivrError& error) {
    PyErr_SetString(PyExc_ValueError, error.message().c_str());
    return nullptr;
}

PyObject* create_chunker_type(const ChunkerClass& cls) {
    // Type specs and method tables must outlive the classes, which live as long as the process.
    auto* methods = new std::vector<PyMethodDef>(std::begin(kCommonMethods), std::end(kCommonMethods));
    for (PyMethodDef* m = cls.extra_methods; m != nullptr && m->ml_name != nullptr; ++m) methods->push_back(*m);
    methods->push_back({nullptr, nullptr, 0, nullptr});
    auto* doc = new std::string(std::string(cls.name) + cls.signature + "\n--\n\n");
    auto* qualified = new std::string(std::string("slivr.") + cls.name);
    auto* slots = new std::vector<PyType_Slot>{
        {Py_tp_doc, doc->data()},
        {Py_tp_new, reinterpret_cast<void*>(guarded<chunker_new>)},
        {Py_tp_dealloc, reinterpret_cast<void*>(chunker_dealloc)},
        {Py_tp_methods, methods->data()},
        {0, nullptr},
    };
    auto* spec = new PyType_Spec{qualified->c_str(), sizeof(PyChunker), 0, Py_TPFLAGS_DEFAULT, slots->data()};
    PyObject* type = PyType_FromSpec(spec);
    if (type != nullptr) g_classes.emplace_back(reinterpret_cast<PyTypeObject*>(type), &cls);
    return type;
}

}  // namespace slivr::py
