// The process's threads for the conversion core: one pool per process, whose helper threads run
// the tasks of for_each calls alongside the calling thread. The pool hands out the machine's
// cores as tokens, so that files converted in parallel (-j), the tasks of one picture and the
// settings search share the cores: no more threads compute at once than there are cores.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "convert/workers.hpp"

namespace lumaweave {

class ThreadPool final : public Workers {
  public:
    // A pool for `cores` cores (at least 1): cores - 1 helper threads, started when first needed;
    // the thread that calls for_each computes too, on a core it holds.
    explicit ThreadPool(int cores);
    // Waits for the helpers to finish what they run and ends them.
    ~ThreadPool() override;

    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    int count() const override { return cores_; }

    // Runs task(0) .. task(n - 1) on the calling thread and on the helpers that have a core free,
    // and returns when all have run; the first exception a task throws is thrown here once every
    // task has ended. Safe to call from inside a task (nested): the inner tasks run on the calling
    // helper and on any helper free to join, and the calling helper keeps its core meanwhile.
    void for_each(int n, const std::function<void(int)>& task) override;

    // Held by a thread that computes on its own outside for_each (a file converted on a thread of
    // its own): it takes one of the cores, waiting until one is free, and gives it back at the end.
    // On a thread that holds a core already (a helper, inside another Core) it takes nothing.
    // for_each takes one so for a caller that holds none.
    class Core {
      public:
        explicit Core(ThreadPool& pool);
        ~Core();
        Core(const Core&) = delete;
        Core& operator=(const Core&) = delete;

      private:
        ThreadPool& pool_;
        bool nested_;
    };

  private:
    struct Run;  // one for_each call

    void start_helpers();
    void help();
    static void run_tasks(Run& run);

    const int cores_;
    std::mutex mutex_;
    std::condition_variable work_;  // a run was added, a core was given back, or the pool ends
    std::condition_variable done_;  // a helper left a run
    std::vector<Run*> runs_;        // runs with tasks left to start, the latest last
    // Counts the runs added: a helper that just ran out of work watches it for a moment before it
    // sleeps, as the stages of one conversion follow each other closely and a sleeping thread
    // takes long to wake.
    std::atomic<unsigned> added_{0};
    int free_cores_;
    bool stopping_ = false;
    bool started_ = false;
    std::vector<std::thread> helpers_;
};

// The cores this process may run on (its CPU affinity), at least 1.
int available_cores();

// The process's pool, for the cores of available_cores(), made on first use.
ThreadPool& process_pool();

}  // namespace lumaweave
