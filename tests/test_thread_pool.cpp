// The process's pool: every task runs once, nested calls finish, the cores are shared (never more
// tasks at once than cores left free), and a task's exception reaches the caller.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "batch/thread_pool.hpp"

using namespace lumaweave;

namespace {

// Counts the tasks running at once and the most ever seen.
struct Concurrency {
    std::atomic<int> now{0}, most{0};
    void enter() {
        const int n = ++now;
        for (int m = most.load(); n > m && !most.compare_exchange_weak(m, n);) {
        }
    }
    void leave() { --now; }
};

}  // namespace

TEST(ThreadPool, RunsEveryTaskOnceAlsoNested) {
    for (int cores : {1, 2, 4}) {
        ThreadPool pool(cores);
        EXPECT_EQ(pool.count(), cores);
        for (int n : {0, 1, 2, 3, 17, 1000}) {
            std::vector<std::atomic<int>> runs(static_cast<std::size_t>(n));
            pool.for_each(n, [&](int i) { ++runs[static_cast<std::size_t>(i)]; });
            for (int i = 0; i < n; ++i)
                ASSERT_EQ(runs[static_cast<std::size_t>(i)].load(), 1) << cores << " " << n;
        }
        // A task that itself shares its work, as a trial conversion inside the settings search.
        std::vector<std::atomic<int>> inner(8 * 8);
        pool.for_each(8, [&](int i) {
            pool.for_each(8, [&](int j) { ++inner[static_cast<std::size_t>(i * 8 + j)]; });
        });
        for (const auto& r : inner)
            ASSERT_EQ(r.load(), 1) << cores;
    }
}

TEST(ThreadPool, SharesTheCoresAndUsesTheFreeOnes) {
    ThreadPool pool(2);
    Concurrency seen;
    auto task = [&](int) {
        seen.enter();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        seen.leave();
    };
    // Another thread holds one core (a file converted on a thread of its own): the caller takes
    // the other, and no helper joins.
    std::atomic<bool> held{false}, release{false};
    std::thread other([&] {
        const ThreadPool::Core core(pool);
        held = true;
        while (!release)
            std::this_thread::yield();
    });
    while (!held)
        std::this_thread::yield();
    pool.for_each(32, task);
    EXPECT_EQ(seen.most.load(), 1);
    release = true;
    other.join();

    // With both cores free a helper takes part: task 0 waits (at most a minute) for a task on
    // another thread.
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<bool> elsewhere{false};
    pool.for_each(64, [&](int i) {
        if (std::this_thread::get_id() != caller) elsewhere = true;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (i == 0 && !elsewhere && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        task(i);
    });
    EXPECT_TRUE(elsewhere.load());
    EXPECT_LE(seen.most.load(), 2);
}

TEST(ThreadPool, PassesOnTheFirstExceptionAfterEveryTaskRan) {
    ThreadPool pool(3);
    std::atomic<int> ran{0};
    EXPECT_THROW(pool.for_each(50,
                               [&](int i) {
                                   ++ran;
                                   if (i % 10 == 3) throw std::runtime_error("task");
                               }),
                 std::runtime_error);
    EXPECT_EQ(ran.load(), 50);
    // The pool works on afterwards.
    ran = 0;
    pool.for_each(10, [&](int) { ++ran; });
    EXPECT_EQ(ran.load(), 10);
}
