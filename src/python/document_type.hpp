// The Python class Document, which owns one native document.
#pragma once

#include "python/ref.hpp"
#include "structures/document.hpp"

#include <optional>
#include <vector>

namespace slivr::py {

struct PyDocument {
    PyObject_HEAD
    Document doc;
};

// Creates the Document class (once per process).
PyObject* create_document_type(PyObject* module);

// A new Python Document that takes over `doc` without copying it.
PyObject* wrap_doc(Document&& doc);
// A new list of Python Documents taking over `docs`, in order.
PyObject* wrap_docs(Documents&& docs);

// The native documents of a sequence of Python Documents. The pointers borrow from the Python
// objects, which `keep` holds alive; Documents never change, so no copy is needed.
std::optional<std::vector<const Document*>> par_chunk_docs_helper(const char* arg, PyObject* value, Ref& keep);

}  // namespace slivr::py
