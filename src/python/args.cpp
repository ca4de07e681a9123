#include "python/args.hpp"

#include <cstring>

namespace slivr::py {
namespace {

std::optional<std::size_t> index_of(const Params& params, PyObject* keyword) {
    Py_ssize_t size = 0;
    const char* name = PyUnicode_AsUTF8AndSize(keyword, &size);
    if (name == nullptr) {
        PyErr_Clear();
        return std::nullopt;
    }
    for (std::size_t i = 0; i < params.names.size(); ++i) {
        if (std::strlen(params.names[i]) == static_cast<std::size_t>(size) &&
            std::memcmp(params.names[i], name, static_cast<std::size_t>(size)) == 0)
            return i;
    }
    return std::nullopt;
}

bool check_positional_count(const Params& params, Py_ssize_t nargs) {
    const auto max = static_cast<Py_ssize_t>(params.names.size());
    if (nargs <= max) return true;
    PyErr_Format(PyExc_TypeError, "%s() takes %zd positional argument%s but %zd %s given", params.function, max,
                 max == 1 ? "" : "s", nargs, nargs == 1 ? "was" : "were");
    return false;
}

bool assign_keyword(const Params& params, PyObject* keyword, PyObject* value, PyObject** out) {
    const auto index = index_of(params, keyword);
    if (!index) {
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", params.function, keyword);
        return false;
    }
    if (out[*index] != nullptr) {
        PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", params.function,
                     params.names[*index]);
        return false;
    }
    out[*index] = value;
    return true;
}

bool check_required(const Params& params, PyObject** out) {
    for (std::size_t i = 0; i < params.required; ++i) {
        if (out[i] == nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zu)", params.function,
                         params.names[i], i + 1);
            return false;
        }
    }
    return true;
}

}  // namespace

bool bind(const Params& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
    nargs = PyVectorcall_NARGS(nargs);
    for (std::size_t i = 0; i < params.names.size(); ++i) out[i] = nullptr;
    if (!check_positional_count(params, nargs)) return false;
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
    if (kwnames != nullptr) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t i = 0; i < nkw; ++i) {
            if (!assign_keyword(params, PyTuple_GET_ITEM(kwnames, i), args[nargs + i], out)) return false;
        }
    }
    return check_required(params, out);
}

bool bind(const Params& params, PyObject* args, PyObject* kwargs, PyObject** out) {
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    for (std::size_t i = 0; i < params.names.size(); ++i) out[i] = nullptr;
    if (!check_positional_count(params, nargs)) return false;
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = PyTuple_GET_ITEM(args, i);
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            if (!assign_keyword(params, key, value, out)) return false;
        }
    }
    return check_required(params, out);
}

void raise_argument_error(const char* arg, const std::string& message) {
    PyErr_Format(PyExc_TypeError, "argument '%s': %s", arg, message.c_str());
}

std::string cannot_convert(PyObject* value, const char* target) {
    return std::string("'") + Py_TYPE(value)->tp_name + "' object cannot be converted to '" + target + "'";
}

std::optional<std::string_view> utf8_of(PyObject* str) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(str, &size);
    if (data == nullptr) return std::nullopt;
    return std::string_view(data, static_cast<std::size_t>(size));
}

std::optional<std::string_view> to_str(const char* arg, PyObject* value) {
    if (!PyUnicode_Check(value)) {
        raise_argument_error(arg, cannot_convert(value, "PyString"));
        return std::nullopt;
    }
    return utf8_of(value);
}

std::optional<std::uint64_t> to_u64(const char* arg, PyObject* value) {
    if (!PyIndex_Check(value)) {
        raise_argument_error(arg, std::string("'") + Py_TYPE(value)->tp_name +
                                      "' object cannot be interpreted as an integer");
        return std::nullopt;
    }
    Ref index(PyNumber_Index(value));
    if (!index) return std::nullopt;
    const unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return std::nullopt;
    return static_cast<std::uint64_t>(v);
}

bool to_optional_u64(const char* arg, PyObject* value, std::optional<std::uint64_t>& out) {
    out.reset();
    if (value == nullptr || value == Py_None) return true;
    auto v = to_u64(arg, value);
    if (!v) return false;
    out = *v;
    return true;
}

std::optional<double> to_f64(const char* arg, PyObject* value) {
    const double v = PyFloat_AsDouble(value);
    if (v == -1.0 && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            raise_argument_error(arg, std::string("must be real number, not ") + Py_TYPE(value)->tp_name);
        }
        return std::nullopt;
    }
    return v;
}

std::optional<std::span<PyObject* const>> to_sequence(const char* arg, PyObject* value, Ref& keep) {
    if (PyUnicode_Check(value)) {
        raise_argument_error(arg, "Can't extract `str` to `Vec`");
        return std::nullopt;
    }
    if (!PySequence_Check(value)) {
        raise_argument_error(arg, cannot_convert(value, "PySequence"));
        return std::nullopt;
    }
    keep = Ref(PySequence_Fast(value, ""));
    if (!keep) {
        PyErr_Clear();
        raise_argument_error(arg, cannot_convert(value, "PySequence"));
        return std::nullopt;
    }
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(keep.get());
    return std::span<PyObject* const>(PySequence_Fast_ITEMS(keep.get()), static_cast<std::size_t>(n));
}

std::optional<std::vector<std::string_view>> to_str_views(const char* arg, PyObject* value, Ref& keep) {
    auto items = to_sequence(arg, value, keep);
    if (!items) return std::nullopt;
    std::vector<std::string_view> out;
    out.reserve(items->size());
    for (PyObject* item : *items) {
        auto s = to_str(arg, item);
        if (!s) return std::nullopt;
        out.push_back(*s);
    }
    return out;
}

std::optional<std::vector<std::string>> to_strings(const char* arg, PyObject* value) {
    Ref keep;
    auto views = to_str_views(arg, value, keep);
    if (!views) return std::nullopt;
    return std::vector<std::string>(views->begin(), views->end());
}

}  // namespace slivr::py
