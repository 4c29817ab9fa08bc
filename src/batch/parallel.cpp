#include "batch/parallel.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <new>
#include <unordered_set>

#include "batch/output.hpp"
#include "convert/convert.hpp"
#include "io/messages.hpp"

namespace lumaweave {

namespace {

namespace fs = std::filesystem;

// The file a name leads to, for telling whether two names may be the same file: symbolic links
// resolved (also a dangling one whose target a batch may create), letters folded so that a
// case-insensitive file system cannot hide a match. A false match only costs parallelism.
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

}  // namespace

ParallelConverter::ParallelConverter(const ConversionSettings& settings,
                                     const DefaultPalettes& palettes,
                                     const std::vector<std::string>& names, bool export_files,
                                     int workers)
    : ParallelConverter(names, export_files, workers, [settings, palettes] {
          return std::make_unique<StandaloneConverter>(settings, palettes);
      }) {}

ParallelConverter::ParallelConverter(const std::vector<std::string>& names, bool export_files,
                                     int workers, ConverterFactory make)
    : make_(std::move(make)) {
    // Outputs of the jobs so far; a job whose inputs are among them must see them written.
    std::unordered_set<std::string> written;
    for (int i = 0; i < static_cast<int>(names.size()); ++i) {
        const std::string& name = names[static_cast<std::size_t>(i)];
        if (!is_bmp_name(name)) continue;
        const bool in_turn = written.contains(file_identity(name)) ||
                             written.contains(file_identity(companion_name(name)));
        jobs_.push_back({i, name, in_turn});
        written.insert(file_identity(vram_name(name)));
        if (export_files) written.insert(file_identity(export_name(name)));
    }

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

std::vector<int> ParallelConverter::jobs_converted_in_turn() const {
    std::vector<int> out;
    for (const Job& job : jobs_) {
        if (job.in_turn) out.push_back(job.index);
    }
    return out;
}

void ParallelConverter::work(int w) {
    Worker& worker = *workers_[static_cast<std::size_t>(w)];
    const int n = static_cast<int>(workers_.size());
    // Jobs are dealt round: worker w converts jobs w, w + n, w + 2n, ...
    for (int k = w; k < static_cast<int>(jobs_.size()); k += n) {
        const Job& job = jobs_[static_cast<std::size_t>(k)];
        {
            std::unique_lock lock(mutex_);
            // The conversion object holds job k - n until the batch has asked for a later job
            // (by then it has written k - n's files).
            changed_.wait(lock, [&] {
                return shutting_down_ ||
                       ((k - n < 0 || requested_ > k - n) && (!job.in_turn || requested_ >= k));
            });
            if (shutting_down_) return;
        }
        std::string message;
        Conversion* result = nullptr;
        try {
            message = worker.converter->convert(job.index, job.name, result);
        } catch (const std::bad_alloc&) {
            message = msg::memory_error;
        }
        {
            std::lock_guard lock(mutex_);
            worker.done = k;
            worker.message = std::move(message);
            worker.result = result;
        }
        changed_.notify_all();
    }
}

std::string ParallelConverter::convert(int index, const std::string& name, Conversion*& result) {
    const auto it = std::lower_bound(jobs_.begin(), jobs_.end(), index,
                                     [](const Job& job, int i) { return job.index < i; });
    const int k = static_cast<int>(it - jobs_.begin());
    std::unique_lock lock(mutex_);
    if (it == jobs_.end() || it->index != index || it->name != name || k <= requested_) {
        lock.unlock();
        if (!fallback_) fallback_ = make_();
        return fallback_->convert(index, name, result);
    }
    requested_ = k;
    changed_.notify_all();
    Worker& worker = *workers_[static_cast<std::size_t>(k) % workers_.size()];
    changed_.wait(lock, [&] { return worker.done == k; });
    result = worker.result;
    return worker.message;
}

}  // namespace lumaweave
