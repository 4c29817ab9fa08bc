#include "batch/thread_pool.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <optional>

#if defined(__linux__)
#include <sched.h>
#endif

namespace lumaweave {

namespace {

// Whether this thread holds one of a pool's cores: a helper running tasks, a Core holder.
thread_local bool holds_core = false;

// How long a helper out of work watches for the next run before it sleeps: longer than the
// gaps between the stages of one conversion, short enough not to matter to anyone else.
constexpr std::chrono::microseconds spin_time{200};

}  // namespace

// One for_each call: its tasks are started in index order by whoever claims the next index.
struct ThreadPool::Run {
    const std::function<void(int)>* task;
    int n;
    std::atomic<int> next{0};
    int helpers = 0;  // helpers working on it (guarded by the pool's mutex)
    std::mutex error_mutex;
    std::exception_ptr error;
};

ThreadPool::ThreadPool(int cores) : cores_(std::max(cores, 1)), free_cores_(cores_) {}

ThreadPool::~ThreadPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    work_.notify_all();
    for (std::thread& t : helpers_)
        t.join();
}

void ThreadPool::start_helpers() {
    // Under mutex_. Without threads (none can be started) every task runs on its caller.
    started_ = true;
    try {
        for (int h = 1; h < cores_; ++h)
            helpers_.emplace_back(&ThreadPool::help, this);
    } catch (const std::system_error&) {
    }
}

void ThreadPool::run_tasks(Run& run) {
    for (int i = run.next.fetch_add(1); i < run.n; i = run.next.fetch_add(1)) {
        try {
            (*run.task)(i);
        } catch (...) {
            std::lock_guard lock(run.error_mutex);
            if (!run.error) run.error = std::current_exception();
        }
    }
}

void ThreadPool::help() {
    std::unique_lock lock(mutex_);
    for (;;) {
        // The latest run first: a nested run is what its caller waits for.
        Run* run = nullptr;
        if (runs_.empty() && !stopping_ && free_cores_ > 0) {
            // No work now: watch for a run for a moment before sleeping (see added_).
            const unsigned seen = added_.load();
            lock.unlock();
            const auto until = std::chrono::steady_clock::now() + spin_time;
            while (added_.load() == seen && std::chrono::steady_clock::now() < until)
                std::this_thread::yield();
            lock.lock();
        }
        work_.wait(lock, [&] {
            if (stopping_) return true;
            if (free_cores_ == 0) return false;
            for (auto it = runs_.rbegin(); it != runs_.rend() && run == nullptr; ++it) {
                if ((*it)->next.load() < (*it)->n) run = *it;
            }
            return run != nullptr;
        });
        if (stopping_) return;
        --free_cores_;
        ++run->helpers;
        lock.unlock();
        holds_core = true;
        run_tasks(*run);
        holds_core = false;
        lock.lock();
        --run->helpers;
        ++free_cores_;
        done_.notify_all();
        // The core given back may let another helper or a Core holder go on.
        work_.notify_all();
    }
}

void ThreadPool::for_each(int n, const std::function<void(int)>& task) {
    if (n <= 0) return;
    if (n == 1 || cores_ == 1) {
        for (int i = 0; i < n; ++i)
            task(i);
        return;
    }
    // A caller that holds no core (a front end's own thread) takes one while it runs tasks.
    std::optional<Core> core;
    if (!holds_core) core.emplace(*this);
    Run run;
    run.task = &task;
    run.n = n;
    {
        std::lock_guard lock(mutex_);
        if (!started_) start_helpers();
        runs_.push_back(&run);
        added_.fetch_add(1);
    }
    work_.notify_all();
    run_tasks(run);
    {
        std::unique_lock lock(mutex_);
        runs_.erase(std::find(runs_.begin(), runs_.end(), &run));
        // Every index is claimed; wait for the helpers still running one, and until none of them
        // looks at this run any more.
        done_.wait(lock, [&] { return run.helpers == 0; });
    }
    core.reset();
    if (run.error) std::rethrow_exception(run.error);
}

ThreadPool::Core::Core(ThreadPool& pool) : pool_(pool), nested_(holds_core) {
    if (nested_) return;  // this thread computes on a core it holds already
    std::unique_lock lock(pool_.mutex_);
    pool_.work_.wait(lock, [&] { return pool_.free_cores_ > 0; });
    --pool_.free_cores_;
    holds_core = true;
}

ThreadPool::Core::~Core() {
    if (nested_) return;
    holds_core = false;
    {
        std::lock_guard lock(pool_.mutex_);
        ++pool_.free_cores_;
    }
    pool_.work_.notify_all();
}

int available_cores() {
#if defined(__linux__)
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(CPU_COUNT(&set), 1);
#endif
    return std::max(static_cast<int>(std::thread::hardware_concurrency()), 1);
}

ThreadPool& process_pool() {
    static ThreadPool pool(available_cores());
    return pool;
}

}  // namespace lumaweave
