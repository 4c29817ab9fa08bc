#include "batch/thread_workers.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>
#include <vector>

namespace lumaweave {

ThreadWorkers::ThreadWorkers(int count) : count_(std::max(1, count)) {}

void ThreadWorkers::for_each(int n, const std::function<void(int)>& task) {
    if (n <= 0) return;
    std::atomic<int> next{0};
    std::vector<std::exception_ptr> errors(static_cast<std::size_t>(n));
    auto work = [&] {
        for (int i = next++; i < n; i = next++) {
            try {
                task(i);
            } catch (...) {
                errors[static_cast<std::size_t>(i)] = std::current_exception();
            }
        }
    };
    std::vector<std::thread> threads;
    const int extra = std::min(count_, n) - 1;
    for (int k = 0; k < extra; ++k) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // no more threads to be had: the ones running take the rest
        }
    }
    work();
    for (std::thread& t : threads)
        t.join();
    for (const std::exception_ptr& e : errors) {
        if (e) std::rethrow_exception(e);
    }
}

int core_count() {
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

}  // namespace lumaweave
