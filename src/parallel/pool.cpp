#include "parallel/pool.hpp"

#include "error/exception_state.hpp"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace slivr::parallel {
namespace {

struct Job {
    std::size_t n = 0;
    std::size_t grain = 1;
    const std::function<bool(std::size_t)>* body = nullptr;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    // The first exception thrown by `body`; written once (by whoever sets `failed`) and read by
    // the caller after the pool mutex has told it that every worker is done.
    std::atomic<bool> failed{false};
    std::exception_ptr error;
    // Guarded by the pool mutex.
    std::size_t active = 0;
    bool retired = false;
};

class Pool {
public:
    // Starts up to `workers` threads and returns once each started thread is ready; fewer when the
    // system refuses a thread (size() tells how many run, possibly none).
    explicit Pool(std::size_t workers) {
        std::unique_lock lock(mutex_);
        for (std::size_t i = 0; i < workers; ++i) {
            try {
                std::thread([this] { work(); }).detach();
            } catch (const std::system_error&) {
                break;
            }
            ++workers_;
        }
        done_.wait(lock, [&] { return ready_ == workers_; });
    }

    std::size_t size() const { return workers_; }

    void run(Job& job) {
        std::unique_lock lock(mutex_);
        jobs_.push_back(&job);
        wake_.notify_all();
        done_.wait(lock, [&] { return job.retired && job.active == 0; });
    }

private:
    void work() {
        reserve_exception_state();
        std::unique_lock lock(mutex_);
        if (++ready_ == workers_) done_.notify_all();
        for (;;) {
            wake_.wait(lock, [&] { return !jobs_.empty(); });
            Job* job = jobs_.front();
            ++job->active;
            lock.unlock();
            process(*job);
            lock.lock();
            --job->active;
            if (!job->retired) {
                job->retired = true;
                jobs_.erase(std::find(jobs_.begin(), jobs_.end(), job));
            }
            if (job->active == 0) done_.notify_all();
        }
    }

    // Takes runs of the job until none is left or the job is stopped.
    static void process(Job& job) {
        for (;;) {
            if (job.stop.load(std::memory_order_relaxed)) return;
            const std::size_t begin = job.next.fetch_add(job.grain, std::memory_order_relaxed);
            if (begin >= job.n) return;
            const std::size_t end = std::min(job.n, begin + job.grain);
            for (std::size_t i = begin; i < end; ++i) {
                if (job.stop.load(std::memory_order_relaxed)) return;
                if (!call(job, i)) {
                    job.stop.store(true, std::memory_order_relaxed);
                    return;
                }
            }
        }
    }

    // An exception must not leave a worker thread (that would end the process): it stops the job
    // and travels to the calling thread instead.
    static bool call(Job& job, std::size_t i) {
        try {
            return (*job.body)(i);
        } catch (...) {
            if (!job.failed.exchange(true)) job.error = std::current_exception();
            return false;
        }
    }

    std::size_t workers_ = 0;
    std::size_t ready_ = 0;  // guarded by mutex_
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<Job*> jobs_;
};

std::size_t available_processors() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return static_cast<std::size_t>(n);
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

// The pool is never destroyed: its workers are detached and may still be waiting when the process
// exits. After fork() the child has none of the parent's threads, so the child forgets the
// parent's pool (its memory is abandoned, not freed) and builds its own on first use.
std::atomic<Pool*> g_pool{nullptr};
alignas(std::mutex) unsigned char g_create_storage[sizeof(std::mutex)];
std::mutex* g_create = new (g_create_storage) std::mutex;

void reset_after_fork() {
    g_pool.store(nullptr);
    g_create = new (g_create_storage) std::mutex;
}

const int g_atfork_registered = pthread_atfork(nullptr, nullptr, reset_after_fork);

// The pool, created on first use; null when not a single worker thread could be started (then
// the next call tries again).
Pool* pool() {
    Pool* p = g_pool.load(std::memory_order_acquire);
    if (p != nullptr) return p;
    std::lock_guard lock(*g_create);
    p = g_pool.load(std::memory_order_acquire);
    if (p == nullptr) {
        auto created = std::make_unique<Pool>(available_processors());
        if (created->size() == 0) return nullptr;
        p = created.release();
        g_pool.store(p, std::memory_order_release);
    }
    return p;
}

// Without workers the call runs on the calling thread, with the same stop and error rules.
void run_serially(std::size_t n, const std::function<bool(std::size_t)>& body) {
    for (std::size_t i = 0; i < n; ++i) {
        if (!body(i)) return;
    }
}

}  // namespace

void for_each_index(std::size_t n, const std::function<bool(std::size_t)>& body) {
    (void)g_atfork_registered;
    if (n == 0) return;
    Pool* p = pool();
    if (p == nullptr) {
        run_serially(n, body);
        return;
    }
    Job job;
    job.n = n;
    job.body = &body;
    // Several runs per worker so that an uneven item mix still balances.
    job.grain = std::max<std::size_t>(1, n / (p->size() * 8));
    p->run(job);
    if (job.error) std::rethrow_exception(job.error);
}

std::size_t worker_count() {
    Pool* p = pool();
    return p == nullptr ? 1 : p->size();
}

}  // namespace slivr::parallel
