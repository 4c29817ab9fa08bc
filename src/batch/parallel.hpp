// Converting the files of a batch ahead of their turn on worker threads, for front ends whose
// settings stay fixed for the whole batch (the command line). `Batch::run_batch` still writes,
// skips and reports every file in list order, so the outputs, the first failure and the final
// message are those of the sequential batch.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "batch/batch.hpp"

namespace lumaweave {

// Makes the converter of one worker thread, which converts that thread's files one at a time
// into objects of its own. A result must stay valid until the converter's next call.
using ConverterFactory = std::function<std::unique_ptr<FileConverter>()>;

class ParallelConverter final : public FileConverter {
  public:
    // `names` is the batch's file list (its ".bmp" names are the jobs); `export_files` whether
    // the batch writes "TEST_" pictures, which a later file may read. Settings and palettes are
    // copied: a change after construction does not reach the conversions. Starts `workers`
    // threads, each with its own conversion object and scratch pool.
    ParallelConverter(const ConversionSettings& settings, const DefaultPalettes& palettes,
                      const std::vector<std::string>& names, bool export_files, int workers);
    // The same with each worker's files converted by a converter from `make` (for example one
    // that searches settings per picture).
    ParallelConverter(const std::vector<std::string>& names, bool export_files, int workers,
                      ConverterFactory make);
    // Stops the workers (a conversion under way is finished first) and waits for them.
    ~ParallelConverter() override;

    ParallelConverter(const ParallelConverter&) = delete;
    ParallelConverter& operator=(const ParallelConverter&) = delete;

    // Waits for file `index` and hands out its result, valid until the next call.
    std::string convert(int index, const std::string& name, Conversion*& result) override;

    // Which jobs must wait for their turn because they read a file that an earlier file of the
    // batch writes (list indices, in order).
    std::vector<int> jobs_converted_in_turn() const;

  private:
    struct Job {
        int index;
        std::string name;
        bool in_turn;  // reads an earlier file's output: convert only once that is written
    };
    struct Worker {
        std::unique_ptr<FileConverter> converter;
        Conversion* result = nullptr;
        int done = -1;  // job whose result `result` holds
        std::string message;
        std::thread thread;
    };

    void work(int w);
    void stop_workers();

    ConverterFactory make_;
    std::vector<Job> jobs_;
    std::vector<std::unique_ptr<Worker>> workers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int requested_ = -1;  // the job the batch asks for; every earlier job is written
    bool shutting_down_ = false;

    // For a call that does not follow the job list (not expected from `Batch`): converted on
    // the spot, as the sequential batch would.
    std::unique_ptr<FileConverter> fallback_;
};

}  // namespace lumaweave
