#include "batch/parallel.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <new>

namespace lumaweave {

namespace fs = std::filesystem;

std::string file_identity(const std::string& name) {
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(name), ec);
    if (ec) p = fs::path(name);
    for (int depth = 0; depth < 40; ++depth) {
        const fs::path parent = fs::weakly_canonical(p.parent_path(), ec);
        if (!ec) p = parent / p.filename();
        const fs::file_status status = fs::symlink_status(p, ec);
        if (ec || !fs::is_symlink(status)) break;
        const fs::path target = fs::read_symlink(p, ec);
        if (ec) break;
        p = target.is_absolute() ? target : p.parent_path() / target;
    }
    std::string id = p.lexically_normal().string();
    for (char& c : id)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return id;
}

ParallelConverter::ParallelConverter(const std::vector<BatchJob>& jobs,
                                     const ConverterFactory& make, int workers, ThreadPool& pool)
    : jobs_(jobs), pool_(pool), make_(make) {
    memory_failure_.outcome = failure(Status::memory_error);
    const int n = std::clamp(workers, 1, std::max(1, static_cast<int>(jobs_.size())));
    for (int w = 0; w < n; ++w) {
        auto worker = std::make_unique<Worker>();
        worker->converter = make_();
        workers_.push_back(std::move(worker));
    }
    try {
        for (int w = 0; w < n; ++w) {
            workers_[static_cast<std::size_t>(w)]->thread =
                std::thread(&ParallelConverter::work, this, w);
        }
    } catch (...) {
        stop_workers();
        throw;
    }
}

ParallelConverter::~ParallelConverter() {
    stop_workers();
}

void ParallelConverter::stop_workers() {
    {
        std::lock_guard lock(mutex_);
        shutting_down_ = true;
    }
    changed_.notify_all();
    for (auto& worker : workers_) {
        if (worker->thread.joinable()) worker->thread.join();
    }
}

void ParallelConverter::work(int w) {
    Worker& worker = *workers_[static_cast<std::size_t>(w)];
    const int n = static_cast<int>(workers_.size());
    // Jobs are dealt round: worker w converts jobs w, w + n, w + 2n, ...
    for (int k = w; k < static_cast<int>(jobs_.size()); k += n) {
        const BatchJob& job = jobs_[static_cast<std::size_t>(k)];
        {
            std::unique_lock lock(mutex_);
            // The converter holds job k - n's result until the batch has asked for a later job
            // (by then it has written k - n's files).
            changed_.wait(lock, [&] {
                return shutting_down_ ||
                       ((k - n < 0 || requested_ > k - n) && (!job.in_turn || requested_ >= k));
            });
            if (shutting_down_) return;
        }
        const Result* result = &memory_failure_;
        try {
            const ThreadPool::Core core(pool_);
            result = &worker.converter->convert(job.index, job.name);
        } catch (const std::bad_alloc&) {
        }
        {
            std::lock_guard lock(mutex_);
            worker.done = k;
            worker.result = result;
        }
        changed_.notify_all();
    }
}

const Result& ParallelConverter::convert(int index, const std::string& name) {
    const auto it = std::lower_bound(jobs_.begin(), jobs_.end(), index,
                                     [](const BatchJob& job, int i) { return job.index < i; });
    const int k = static_cast<int>(it - jobs_.begin());
    std::unique_lock lock(mutex_);
    if (it == jobs_.end() || it->index != index || it->name != name || k <= requested_) {
        lock.unlock();
        if (!fallback_) fallback_ = make_();
        return fallback_->convert(index, name);
    }
    requested_ = k;
    changed_.notify_all();
    Worker& worker = *workers_[static_cast<std::size_t>(k) % workers_.size()];
    changed_.wait(lock, [&] { return worker.done == k; });
    return *worker.result;
}

}  // namespace lumaweave
