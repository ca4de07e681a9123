// The process-wide worker pool behind the parallel batch operations.
#pragma once

#include <cstddef>
#include <functional>

namespace slivr::parallel {

// Calls `body(i)` for every i in [0, n) on the worker pool and returns when the call is complete.
// Items are handed out to idle workers in contiguous runs; each run is processed in order by one
// worker. When `body` returns false no further items of this call are started; items already
// running finish. An exception thrown by `body` stops the call the same way and is rethrown here,
// on the calling thread, once the running items are done. The pool is created on first use with
// one worker per available processor and survives fork(): a child process gets a fresh pool on
// its first call. When the system refuses every worker thread, the call runs on the calling thread.
void for_each_index(std::size_t n, const std::function<bool(std::size_t)>& body);

// Number of workers the pool runs (creating the pool if needed); 1 when it runs none.
std::size_t worker_count();

}  // namespace slivr::parallel
