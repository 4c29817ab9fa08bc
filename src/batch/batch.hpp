// Converting a list of files and writing their outputs, for any front end: the dialog's
// batch, the command line, the tests. The front end hands in a converter, follows the run
// through an observer and may stop it with a stop token; the batch decides nothing by text.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "batch/output.hpp"
#include "batch/picture_reader.hpp"
#include "lumaweave.hpp"

namespace lumaweave {

// A list of this many names or more is refused (too_many_files).
inline constexpr std::size_t file_list_capacity = 100000;

// A request to stop before the next file. Safe to make from a signal handler or another thread.
class StopToken {
  public:
    void request() { requested_.store(true); }
    void clear() { requested_.store(false); }
    bool requested() const { return requested_.load(); }

  private:
    std::atomic<bool> requested_{false};
    static_assert(std::atomic<bool>::is_always_lock_free, "requests come from signal handlers");
};

enum class FailurePolicy {
    stop,        // the first failure ends the run; nothing after it is touched
    keep_going,  // every file is tried
};

struct BatchOutcome {
    // ok when every picture passed; else stopped, no_files, or the first failure's status.
    Status status = Status::ok;
    Outcome first_failure;  // the file that failed first and why
    int converted = 0, failed = 0, skipped = 0;
};

// The message that reports a run's end: "ended", "stopped", "select a file", or the text of the
// failure that ended it.
std::string ending_text(const BatchOutcome& outcome);

// What a front end learns of a run, in list order, on the thread that runs it.
class BatchObserver {
  public:
    virtual ~BatchObserver() = default;
    // File `index` is about to be converted; `percent` of the list lies before it.
    virtual void file_started(int index, const std::string& name, int percent);
    // It was converted and its outputs written; `result` and the `files` they were made from are
    // valid during the call.
    virtual void file_converted(int index, const std::string& name, const Result& result,
                                const outputs::PictureFiles& files);
    // Its conversion or the writing of an output failed.
    virtual void file_failed(int index, const std::string& name, const Outcome& outcome);
    // It is not a picture the batch converts, or (with the plan's no_clobber) all its outputs
    // exist.
    virtual void file_skipped(int index, const std::string& name);
    // After each file: the place to handle pending events (option clicks, a stop request).
    virtual void between_files();
};

// Converts one file of a list. The result stays valid until the next call.
class FileConverter {
  public:
    virtual ~FileConverter() = default;
    virtual const Result& convert(int index, const std::string& name) = 0;
};

// Makes the converter of one worker thread.
using ConverterFactory = std::function<std::unique_ptr<FileConverter>()>;

// Converts each file with the settings and palettes as they are at that moment (the dialog's
// options clicked during a batch apply to the files not yet converted), through its reader when
// it has one; `workers` share the work of each picture.
class SettingsConverter final : public FileConverter {
  public:
    SettingsConverter(const ConversionSettings& settings, const DefaultPalettes& palettes,
                      std::unique_ptr<PictureReader> reader = nullptr,
                      const Display& display = table_display(), Workers& workers = serial_workers(),
                      const Products& products = {})
        : settings_(settings),
          palettes_(palettes),
          reader_(std::move(reader)),
          display_(display),
          converter_(workers) {
        converter_.set_products(products);
    }
    const Result& convert(int, const std::string& name) override {
        return convert_file_with(converter_, reader_.get(), failure_, name, settings_, palettes_,
                                 display_);
    }

  private:
    const ConversionSettings& settings_;
    const DefaultPalettes& palettes_;
    std::unique_ptr<PictureReader> reader_;
    const Display& display_;
    Converter converter_;
    Result failure_;
};

// One picture of the list.
struct BatchJob {
    int index;
    std::string name;
    bool in_turn;  // reads an output of an earlier job: converted only once that is written
};

class Batch {
  public:
    // The plan is read when each file is written, so a front end may change it meanwhile.
    Batch(std::vector<std::string> files, const OutputPlan& plan,
          FailurePolicy policy = FailurePolicy::stop);

    const std::vector<std::string>& files() const { return files_; }
    const std::vector<BatchJob>& jobs() const { return jobs_; }

    // Converts and writes every picture of the list in order.
    BatchOutcome run(FileConverter& converter, BatchObserver& observer, const StopToken& stop);

    // The same with the conversions made ahead on `workers` threads, each with a converter from
    // `make`: files are still written, skipped and reported in list order, so the outputs and the
    // outcome are those of the sequential run. The threads take their cores from the process's
    // pool (process_pool), which the converters' own work shares.
    BatchOutcome run(const ConverterFactory& make, int workers, BatchObserver& observer,
                     const StopToken& stop);

  private:
    bool all_outputs_exist(const std::string& name) const;

    std::vector<std::string> files_;
    const OutputPlan& plan_;
    FailurePolicy policy_;
    std::vector<BatchJob> jobs_;
};

}  // namespace lumaweave
