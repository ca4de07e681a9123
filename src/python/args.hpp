// Argument parsing and conversion for every constructor and method of the module. Each helper
// either succeeds or sets a Python exception and reports failure; messages are produced here once.
#pragma once

#include "python/ref.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace slivr::py {

// The parameters of a callable, all positional-or-keyword, the first `required` of them required.
struct Params {
    const char* function;  // name used in messages, e.g. "chunk"
    std::span<const char* const> names;
    std::size_t required = 0;
};

// Binds vectorcall arguments to `out` (one borrowed slot per parameter; absent optional ones are
// null). Returns false with TypeError set on missing, unknown, duplicate or surplus arguments.
bool bind(const Params& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out);
// The same for a tuple and a keyword dict (type constructors).
bool bind(const Params& params, PyObject* args, PyObject* kwargs, PyObject** out);

// Raises TypeError "argument '<arg>': <message>".
void raise_argument_error(const char* arg, const std::string& message);
// "'<type>' object cannot be converted to '<target>'"
std::string cannot_convert(PyObject* value, const char* target);

// A str argument as UTF-8 (a view into the str object, valid while the object lives).
std::optional<std::string_view> utf8_of(PyObject* str);
std::optional<std::string_view> to_str(const char* arg, PyObject* value);
// An integer argument as unsigned 64-bit: OverflowError when negative or too large.
std::optional<std::uint64_t> to_u64(const char* arg, PyObject* value);
// None, or an integer as above.
bool to_optional_u64(const char* arg, PyObject* value, std::optional<std::uint64_t>& out);
std::optional<double> to_f64(const char* arg, PyObject* value);

// A sequence argument (a str is refused). `keep` receives the object that owns the items.
std::optional<std::span<PyObject* const>> to_sequence(const char* arg, PyObject* value, Ref& keep);
// A sequence of str as UTF-8 views, valid while `keep` lives.
std::optional<std::vector<std::string_view>> to_str_views(const char* arg, PyObject* value, Ref& keep);
// A sequence of str as owned UTF-8 strings.
std::optional<std::vector<std::string>> to_strings(const char* arg, PyObject* value);

}  // namespace slivr::py
