// Conversions made ahead of their turn on worker threads, handed to the batch in list order.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "batch/batch.hpp"
#include "batch/thread_pool.hpp"

namespace lumaweave {

// The file a name leads to, for telling whether two names may be the same file: symbolic links
// resolved (also a dangling one whose target a batch may create), letters folded so that a
// case-insensitive file system cannot hide a match. A false match only costs parallelism.
std::string file_identity(const std::string& name);

class ParallelConverter final : public FileConverter {
  public:
    // Starts `workers` threads (at most one per job), each with a converter from `make`. A job
    // that reads an earlier job's output waits until the batch has asked for it. A thread holds
    // one of the pool's cores while it converts, so that at most as many convert at once as the
    // pool has cores, and the pool's helpers join a picture's work only on cores left free.
    ParallelConverter(const std::vector<BatchJob>& jobs, const ConverterFactory& make, int workers,
                      ThreadPool& pool = process_pool());
    // Stops the workers (a conversion under way is finished first) and waits for them.
    ~ParallelConverter() override;

    ParallelConverter(const ParallelConverter&) = delete;
    ParallelConverter& operator=(const ParallelConverter&) = delete;

    // Waits for file `index` and hands out its result, valid until the next call.
    const Result& convert(int index, const std::string& name) override;

  private:
    struct Worker {
        std::unique_ptr<FileConverter> converter;
        const Result* result = nullptr;
        int done = -1;  // job whose result `result` is
        std::thread thread;
    };

    void work(int w);
    void stop_workers();

    const std::vector<BatchJob>& jobs_;
    ThreadPool& pool_;
    std::vector<std::unique_ptr<Worker>> workers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int requested_ = -1;  // the job the batch asks for; every earlier job is written
    bool shutting_down_ = false;

    // For a call that does not follow the job list: converted on the spot.
    const ConverterFactory& make_;
    std::unique_ptr<FileConverter> fallback_;
    Result memory_failure_;
};

}  // namespace lumaweave
