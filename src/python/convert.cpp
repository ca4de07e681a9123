#include "python/convert.hpp"

#include <cmath>
#include <string>

#include "python/args.hpp"

namespace slivr::py {
namespace {

// Guards the recursion of nested values against exhausting the C stack. The interpreter's
// recursion limit alone does not: a program may raise it far beyond what the C stack holds (a
// sanitizer build needs over a kilobyte per level), so the nesting is capped here as well.
constexpr int kMaxNesting = 1000;
int g_nesting = 0;  // only touched with the interpreter lock held

class RecursionGuard {
public:
    RecursionGuard() {
        if (g_nesting >= kMaxNesting) {
            PyErr_SetString(PyExc_RecursionError,
                            "maximum recursion depth exceeded while converting a nested value");
            return;
        }
        entered_ = Py_EnterRecursiveCall(" while converting a nested value") == 0;
        if (entered_) ++g_nesting;
    }
    ~RecursionGuard() {
        if (!entered_) return;
        --g_nesting;
        Py_LeaveRecursiveCall();
    }
    bool entered() const { return entered_; }

private:
    bool entered_ = false;
};

PyObject* str_of(const std::string& s) {
    return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "strict");
}

std::optional<std::string> key_of(PyObject* key) {
    if (!PyUnicode_Check(key)) {
        PyErr_SetString(PyExc_TypeError, cannot_convert(key, "PyString").c_str());
        return std::nullopt;
    }
    auto utf8 = utf8_of(key);
    if (!utf8) return std::nullopt;
    return std::string(*utf8);
}

Json string_of_object(PyObject* obj) {
    Ref text(PyObject_Str(obj));
    if (text) {
        if (auto utf8 = utf8_of(text.get())) return Json(std::string(*utf8));
    }
    PyErr_WriteUnraisable(obj);
    return Json(std::string("<unprintable ") + Py_TYPE(obj)->tp_name + " object>");
}

}  // namespace

PyObject* json_to_py(const Json& value) {
    switch (value.type()) {
    case Json::value_t::null:
        Py_RETURN_NONE;
    case Json::value_t::boolean:
        return PyBool_FromLong(value.get<bool>() ? 1 : 0);
    case Json::value_t::number_unsigned:
        return PyLong_FromUnsignedLongLong(value.get<std::uint64_t>());
    case Json::value_t::number_integer:
        return PyLong_FromLongLong(value.get<std::int64_t>());
    case Json::value_t::number_float:
        return PyFloat_FromDouble(value.get<double>());
    case Json::value_t::string:
        return str_of(value.get_ref<const std::string&>());
    case Json::value_t::array: {
        RecursionGuard guard;
        if (!guard.entered()) return nullptr;
        Ref list(PyList_New(static_cast<Py_ssize_t>(value.size())));
        if (!list) return nullptr;
        Py_ssize_t i = 0;
        for (const Json& element : value) {
            PyObject* item = json_to_py(element);
            if (item == nullptr) return nullptr;
            PyList_SET_ITEM(list.get(), i++, item);
        }
        return list.release();
    }
    case Json::value_t::object: {
        RecursionGuard guard;
        if (!guard.entered()) return nullptr;
        Ref dict(PyDict_New());
        if (!dict) return nullptr;
        for (const auto& [key, element] : value.items()) {
            Ref k(str_of(key));
            if (!k) return nullptr;
            Ref v(json_to_py(element));
            if (!v || PyDict_SetItem(dict.get(), k.get(), v.get()) < 0) return nullptr;
        }
        return dict.release();
    }
    case Json::value_t::binary:
    case Json::value_t::discarded:
        break;
    }
    Py_RETURN_NONE;
}

PyObject* metadata_to_py(const Metadata& metadata) {
    Ref dict(PyDict_New());
    if (!dict) return nullptr;
    for (const auto& [key, value] : metadata) {
        Ref k(str_of(key));
        if (!k) return nullptr;
        Ref v(json_to_py(value));
        if (!v || PyDict_SetItem(dict.get(), k.get(), v.get()) < 0) return nullptr;
    }
    return dict.release();
}

std::optional<Json> py_to_json(PyObject* obj) {
    if (obj == Py_None) return Json(nullptr);
    if (PyBool_Check(obj)) return Json(obj == Py_True);
    if (PyLong_Check(obj)) {
        const long long v = PyLong_AsLongLong(obj);
        if (v == -1 && PyErr_Occurred()) return std::nullopt;
        if (v >= 0) return Json(static_cast<std::uint64_t>(v));
        return Json(static_cast<std::int64_t>(v));
    }
    if (PyFloat_Check(obj)) {
        const double v = PyFloat_AsDouble(obj);
        if (v == -1.0 && PyErr_Occurred()) return std::nullopt;
        if (!std::isfinite(v)) return Json(nullptr);
        return Json(v);
    }
    if (PyUnicode_Check(obj)) {
        auto utf8 = utf8_of(obj);
        if (!utf8) return std::nullopt;
        return Json(std::string(*utf8));
    }
    if (PyDict_Check(obj)) {
        RecursionGuard guard;
        if (!guard.entered()) return std::nullopt;
        Json object = Json::object();
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(obj, &pos, &key, &value)) {
            const Ref held_key = Ref::borrow(key);
            const Ref held_value = Ref::borrow(value);
            auto k = key_of(key);
            if (!k) return std::nullopt;
            auto v = py_to_json(value);
            if (!v) return std::nullopt;
            object[std::move(*k)] = std::move(*v);
        }
        return object;
    }
    if (PyList_Check(obj)) {
        RecursionGuard guard;
        if (!guard.entered()) return std::nullopt;
        Json array = Json::array();
        // Converting an element may run its __str__, which may change the list: hold each element
        // while converting it and read the size afresh every step.
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(obj); ++i) {
            const Ref element = Ref::borrow(PyList_GET_ITEM(obj, i));
            auto v = py_to_json(element.get());
            if (!v) return std::nullopt;
            array.push_back(std::move(*v));
        }
        return array;
    }
    return string_of_object(obj);
}

std::optional<Metadata> dict_to_metadata(PyObject* dict) {
    // Converting a value may run its __str__, which may change the dict; walking a snapshot of
    // the items is what lets each key be inserted as new (a live walk can meet a key twice).
    const Ref items(PyDict_Items(dict));
    if (!items) return std::nullopt;
    const Py_ssize_t n = PyList_GET_SIZE(items.get());
    Metadata metadata;
    metadata.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PyList_GET_ITEM(items.get(), i);
        auto k = key_of(PyTuple_GET_ITEM(item, 0));
        if (!k) return std::nullopt;
        auto v = py_to_json(PyTuple_GET_ITEM(item, 1));
        if (!v) return std::nullopt;
        metadata.insert_new(std::move(*k), std::move(*v));
    }
    return metadata;
}

}  // namespace slivr::py
