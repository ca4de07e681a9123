// Conversions between JSON values (metadata) and Python objects.
#pragma once

#include "python/ref.hpp"
#include "structures/document.hpp"

#include <optional>

namespace slivr::py {

// A new Python object for `value`: None, bool, int, float, str, list, or dict with sorted keys.
PyObject* json_to_py(const Json& value);
// A new dict holding the map's entries.
PyObject* metadata_to_py(const Metadata& metadata);

// The JSON value of a Python object; nullopt with a Python exception set on failure.
std::optional<Json> py_to_json(PyObject* obj);
// A metadata map from a dict; nullopt with a Python exception set on failure.
std::optional<Metadata> dict_to_metadata(PyObject* dict);

}  // namespace slivr::py
