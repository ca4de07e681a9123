// One generic way to declare a Python chunker class: a name, a text signature, a constructor that
// parses its arguments into the native chunker, and optional extra methods. The four common
// methods (chunk, chunk_documents, par_chunk_texts, par_chunk_documents) are supplied here.
#pragma once

#include "python/args.hpp"
#include "python/guard.hpp"
#include "python/ref.hpp"
#include "chunker/base.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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
    // The constructor arguments that rebuild an equal chunker, as a new tuple built from the
    // native value alone (null with a Python exception set on failure). `__reduce__` uses it, so
    // pickle and copy work without the object keeping its arguments.
    PyObject* (*reduce)(const Chunker& chunker) = nullptr;
};

// The declaration of a chunker class whose constructor takes two optional unsigned settings,
// which the native chunker keeps in the public fields `First` and `Second`.
template <typename C, auto First, auto Second>
class TwoSettingClass {
public:
    static ChunkerClass declare(const char* name, const char* signature, const char* first, std::uint64_t first_default,
                                const char* second, std::uint64_t second_default) {
        names_[0] = first;
        names_[1] = second;
        defaults_[0] = first_default;
        defaults_[1] = second_default;
        return {name, signature, {name, names_, 0}, build, nullptr, arguments};
    }

private:
    static std::unique_ptr<Chunker> build(PyObject* const* args) {
        const auto a = args[0] ? to_u64(names_[0], args[0]) : defaults_[0];
        if (!a) return nullptr;
        const auto b = args[1] ? to_u64(names_[1], args[1]) : defaults_[1];
        if (!b) return nullptr;
        return std::make_unique<C>(*a, *b);
    }
    static PyObject* arguments(const Chunker& chunker);

    inline static const char* names_[2] = {};
    inline static std::uint64_t defaults_[2] = {};
};

// Creates the class described by `cls`, which must outlive the interpreter.
PyObject* create_chunker_type(const ChunkerClass& cls);

// The native chunker of a chunker object.
inline const Chunker& native(PyObject* self) { return *reinterpret_cast<PyChunker*>(self)->chunker; }

// Raises ValueError with the error's message; returns null.
PyObject* raise_error(const SlivrError& error);

// Python values of native settings, for the reduce hooks: new references, null on failure.
PyObject* to_py(std::uint64_t value);
PyObject* to_py(double value);
PyObject* to_py(bool value);
PyObject* to_py(std::string_view value);
PyObject* to_py(const std::optional<std::uint64_t>& value);  // None when absent
PyObject* to_py(const std::vector<std::string>& values);     // a list of str
PyObject* to_py(const char*) = delete;                        // would silently pick the bool form

// A new tuple of the Python values of `values`, in order; null with an exception set on failure.
template <typename... T>
PyObject* reduce_args(const T&... values) {
    PyObject* items[] = {to_py(values)...};
    Ref tuple(PyTuple_New(sizeof...(T)));
    bool ok = static_cast<bool>(tuple);
    for (std::size_t i = 0; i < sizeof...(T); ++i) {
        ok = ok && items[i] != nullptr;
        if (ok) {
            PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), items[i]);
        } else {
            Py_XDECREF(items[i]);
        }
    }
    return ok ? tuple.release() : nullptr;
}

template <typename C, auto First, auto Second>
PyObject* TwoSettingClass<C, First, Second>::arguments(const Chunker& chunker) {
    const auto& c = static_cast<const C&>(chunker);
    return reduce_args(c.*First, c.*Second);
}

}  // namespace slivr::py
