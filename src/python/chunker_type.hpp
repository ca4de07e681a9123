// One generic way to declare a Python chunker class: a name, a text signature, a constructor that
// parses its arguments into the native chunker, and optional extra methods. The four common
// methods (chunk, chunk_documents, par_chunk_texts, par_chunk_documents) are supplied here.
#pragma once

#include "python/args.hpp"
#include "python/guard.hpp"
#include "python/ref.hpp"
#include "chunker/base.hpp"

#include <memory>
#include <span>

namespace slivr::py {

struct PyChunker {
    PyObject_HEAD
    Chunker* chunker;  // owned
};

struct ChunkerClass {
    const char* name;       // class name, e.g. "CharacterChunker"
    const char* signature;  // text signature, e.g. "(chunk_size=1000, overlap=200)"
    Params params;          // constructor parameters
    // Builds the native chunker from the bound arguments (absent optional ones are null); returns
    // null with a Python exception set on failure.
    std::unique_ptr<Chunker> (*build)(PyObject* const* args);
    // Extra methods, terminated by a null entry (or null for none).
    PyMethodDef* extra_methods = nullptr;
};

// Creates the class described by `cls`, which must outlive the interpreter.
PyObject* create_chunker_type(const ChunkerClass& cls);

// The native chunker of a chunker object.
inline const Chunker& native(PyObject* self) { return *reinterpret_cast<PyChunker*>(self)->chunker; }

// Raises ValueError with the error's message; returns null.
PyObject* raise_error(const SlivrError& error);

}  // namespace slivr::py
