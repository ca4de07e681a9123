// The C++ runtime keeps each thread's exception state in thread-local storage of a dynamically
// loaded library, allocated on the thread's first throw. When that first throw is std::bad_alloc
// with memory exhausted, the allocation fails and the dynamic loader ends the process. Threads
// that run native work reserve the state beforehand.
#pragma once

#include <exception>

namespace slivr {

inline void reserve_exception_state() noexcept {
    // The runtime call is declared pure; the volatile store keeps it from being dropped.
    volatile int in_flight = std::uncaught_exceptions();
    (void)in_flight;
}

}  // namespace slivr
