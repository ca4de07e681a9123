#include "python/pdf_type.hpp"

#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "loader/pdf.hpp"
#include "python/args.hpp"
#include "python/chunker_type.hpp"
#include "python/document_type.hpp"

namespace slivr::py {
namespace {

struct PyPdfLoader {
    PyObject_HEAD
    PDFLoader loader;
};

const PDFLoader kModuleLoader;

const PDFLoader& loader_of(PyObject* self) { return reinterpret_cast<PyPdfLoader*>(self)->loader; }

// Where the pypdfium2_raw package keeps libpdfium.so. The package is located, not imported:
// importing it would start a second user of the library through ctypes for nothing.
std::vector<std::string> reader_candidates() {
    std::vector<std::string> out;
    Ref util(PyImport_ImportModule("importlib.util"));
    Ref spec(util ? PyObject_CallMethod(util.get(), "find_spec", "s", "pypdfium2_raw") : nullptr);
    Ref locations(spec && spec.get() != Py_None ? PyObject_GetAttrString(spec.get(), "submodule_search_locations")
                                                : nullptr);
    Ref iter(locations && locations.get() != Py_None ? PyObject_GetIter(locations.get()) : nullptr);
    while (iter) {
        Ref item(PyIter_Next(iter.get()));
        if (!item) break;
        Ref encoded(PyUnicode_Check(item.get()) ? PyUnicode_EncodeFSDefault(item.get()) : nullptr);
        if (encoded) out.push_back(std::string(PyBytes_AS_STRING(encoded.get())) + "/libpdfium.so");
    }
    // A package that is missing or cannot be located is reported as a missing reader library.
    PyErr_Clear();
    return out;
}

bool ensure_reader() {
    if (pdf_reader_loaded()) return true;
    auto loaded = load_pdf_reader(reader_candidates());
    if (!loaded) raise_error(loaded.error());
    return loaded.has_value();
}

constexpr const char* kPathParam[] = {"path"};
constexpr const char* kBytesParam[] = {"bytes"};

// The `path` argument of `function`, once the reader is available.
std::optional<std::string_view> path_argument(const char* function, PyObject* const* args, Py_ssize_t nargs,
                                              PyObject* kwnames) {
    PyObject* arg = nullptr;
    if (!bind({function, kPathParam, 1}, args, nargs, kwnames, &arg)) return std::nullopt;
    auto path = to_str("path", arg);
    if (!path || !ensure_reader()) return std::nullopt;
    return path;
}

// The `bytes` argument of `function` (a bytes object; its buffer lives while the call runs).
std::optional<std::string_view> bytes_argument(const char* function, PyObject* const* args, Py_ssize_t nargs,
                                               PyObject* kwnames) {
    PyObject* arg = nullptr;
    if (!bind({function, kBytesParam, 1}, args, nargs, kwnames, &arg)) return std::nullopt;
    if (!PyBytes_Check(arg)) {
        raise_argument_error("bytes", cannot_convert(arg, "PyBytes"));
        return std::nullopt;
    }
    if (!ensure_reader()) return std::nullopt;
    return std::string_view(PyBytes_AS_STRING(arg), static_cast<std::size_t>(PyBytes_GET_SIZE(arg)));
}

PyObject* finish(Result<std::string>&& text) {
    if (!text) return raise_error(text.error());
    return PyUnicode_DecodeUTF8(text->data(), static_cast<Py_ssize_t>(text->size()), "strict");
}

PyObject* finish(Result<Document>&& doc) {
    if (!doc) return raise_error(doc.error());
    return wrap_doc(std::move(*doc));
}

PyObject* finish(Result<Documents>&& docs) {
    if (!docs) return raise_error(docs.error());
    return wrap_docs(std::move(*docs));
}

PyObject* text_from_file(const PDFLoader& loader, const char* function, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
    auto path = path_argument(function, args, nargs, kwnames);
    return path ? finish(loader.load_from_file(*path)) : nullptr;
}

PyObject* pages_from_file(const PDFLoader& loader, const char* function, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
    auto path = path_argument(function, args, nargs, kwnames);
    return path ? finish(loader.load_pages_from_file(*path)) : nullptr;
}

PyObject* load(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return text_from_file(loader_of(self), "load", args, nargs, kwnames);
}

PyObject* load_from_file(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return text_from_file(loader_of(self), "load_from_file", args, nargs, kwnames);
}

PyObject* load_from_bytes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    auto bytes = bytes_argument("load_from_bytes", args, nargs, kwnames);
    return bytes ? finish(loader_of(self).load_from_bytes(*bytes)) : nullptr;
}

PyObject* load_document(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    auto path = path_argument("load_document", args, nargs, kwnames);
    return path ? finish(loader_of(self).load_document(*path)) : nullptr;
}

PyObject* load_document_from_bytes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    auto bytes = bytes_argument("load_document_from_bytes", args, nargs, kwnames);
    return bytes ? finish(loader_of(self).load_document_from_bytes(*bytes)) : nullptr;
}

PyObject* load_pages(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return pages_from_file(loader_of(self), "load_pages", args, nargs, kwnames);
}

PyObject* load_pages_from_file(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return pages_from_file(loader_of(self), "load_pages_from_file", args, nargs, kwnames);
}

PyObject* load_pages_from_bytes(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    auto bytes = bytes_argument("load_pages_from_bytes", args, nargs, kwnames);
    return bytes ? finish(loader_of(self).load_pages_from_bytes(*bytes)) : nullptr;
}

PyObject* load_pdf(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return text_from_file(kModuleLoader, "load_pdf", args, nargs, kwnames);
}

PyObject* load_pdf_pages(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return pages_from_file(kModuleLoader, "load_pdf_pages", args, nargs, kwnames);
}

PyObject* pdf_loader_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* unused = nullptr;
    if (!bind({"PDFLoader", {}, 0}, args, kwargs, &unused)) return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    new (&reinterpret_cast<PyPdfLoader*>(self)->loader) PDFLoader();
    return self;
}

void pdf_loader_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<PyPdfLoader*>(self)->loader.~PDFLoader();
    type->tp_free(self);
    Py_DECREF(type);
}

// (PDFLoader, ()): the loader has no state, so pickle and copy just build a new one.
PyObject* pdf_loader_reduce(PyObject* self, PyObject*) {
    return Py_BuildValue("(O())", reinterpret_cast<PyObject*>(Py_TYPE(self)));
}

constexpr int kFastCall = METH_FASTCALL | METH_KEYWORDS;

template <typename F>
PyCFunction as_cfunction(F f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

PyMethodDef kMethods[] = {
    {"load", as_cfunction(guarded<load>), kFastCall, "load($self, path)\n--\n\n"},
    {"load_from_file", as_cfunction(guarded<load_from_file>), kFastCall, "load_from_file($self, path)\n--\n\n"},
    {"load_from_bytes", as_cfunction(guarded<load_from_bytes>), kFastCall, "load_from_bytes($self, bytes)\n--\n\n"},
    {"load_document", as_cfunction(guarded<load_document>), kFastCall, "load_document($self, path)\n--\n\n"},
    {"load_document_from_bytes", as_cfunction(guarded<load_document_from_bytes>), kFastCall,
     "load_document_from_bytes($self, bytes)\n--\n\n"},
    {"load_pages", as_cfunction(guarded<load_pages>), kFastCall, "load_pages($self, path)\n--\n\n"},
    {"load_pages_from_file", as_cfunction(guarded<load_pages_from_file>), kFastCall,
     "load_pages_from_file($self, path)\n--\n\n"},
    {"load_pages_from_bytes", as_cfunction(guarded<load_pages_from_bytes>), kFastCall,
     "load_pages_from_bytes($self, bytes)\n--\n\n"},
    {"__reduce__", guarded<pdf_loader_reduce>, METH_NOARGS, "__reduce__($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_doc, const_cast<char*>("PDFLoader()\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(pdf_loader_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(pdf_loader_dealloc)},
    {Py_tp_methods, kMethods},
    {0, nullptr},
};

PyType_Spec kSpec{"slivr.PDFLoader", sizeof(PyPdfLoader), 0, Py_TPFLAGS_DEFAULT, kSlots};

}  // namespace

PyMethodDef kPdfFunctions[] = {
    {"load_pdf", as_cfunction(guarded<load_pdf>), kFastCall, "load_pdf(path)\n--\n\n"},
    {"load_pdf_pages", as_cfunction(guarded<load_pdf_pages>), kFastCall, "load_pdf_pages(path)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* create_pdf_loader_type() { return PyType_FromSpec(&kSpec); }

}  // namespace slivr::py
