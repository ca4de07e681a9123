// Every function the interpreter calls runs inside `guarded<F>`: a C++ exception that reached the
// interpreter would end the process, so it becomes a Python exception instead. In practice the
// only exception is an allocation failure (a huge input under a memory limit), which becomes
// MemoryError like any allocation failure of the interpreter itself.
#pragma once

#include "error/exception_state.hpp"
#include "python/ref.hpp"

#include <exception>
#include <new>
#include <stdexcept>
#include <type_traits>

namespace slivr::py {

template <auto F>
struct Guarded;

template <typename R, typename... Args, R (*F)(Args...)>
struct Guarded<F> {
    static R call(Args... args) noexcept {
        reserve_exception_state();
        try {
            return F(args...);
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
        } catch (const std::length_error&) {
            PyErr_NoMemory();
        } catch (const std::exception& e) {
            PyErr_Format(PyExc_RuntimeError, "slivr internal error: %s", e.what());
        } catch (...) {
            // Only a library built on another C++ runtime (the PDF reader) throws these: its
            // allocation failures arrive here as foreign exceptions.
            PyErr_SetString(PyExc_RuntimeError, "slivr internal error: exception of unknown type");
        }
        if constexpr (std::is_pointer_v<R>) {
            return nullptr;
        } else {
            return static_cast<R>(-1);
        }
    }
};

// `F` with exceptions turned into Python exceptions (null or -1 returned, the error set).
template <auto F>
inline constexpr auto guarded = &Guarded<F>::call;

}  // namespace slivr::py
