// The dropped-file list and the batch conversion, one piece of code for the dialog, the command
// line and the tests. What the platform gives (message box, event processing, preview drawing,
// the choice of the "TEST_" export, the list box) comes through BatchHost.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "convert/conversion.hpp"
#include "convert/settings.hpp"
#include "io/config.hpp"
#include "io/scratch_pool.hpp"

namespace lumaweave {

// A drop of this many names or more is refused.
inline constexpr int file_list_capacity = 100000;

class BatchHost {
  public:
    virtual ~BatchHost() = default;

    // The list the user sees (the dialog's list box): emptied, then filled in drop order.
    virtual void clear_file_list() {}
    virtual void append_file_list(const std::string& name) { (void)name; }

    // Shows the batch's PreviewImage and progress percentage.
    virtual void draw_preview() {}

    // Whether a drop converts file 0 for the preview. A front end without a preview (the
    // command line) saves that conversion; the batch's outputs are the same either way.
    virtual bool shows_preview() { return true; }

    // Whether the "TEST_" export is asked for at this moment.
    virtual bool export_requested() { return false; }

    // Lets the platform handle its pending events (option clicks, repaints, "End", closing)
    // between two files of a batch.
    virtual void process_pending_events() {}

    // A modal message: the outcome of a batch, or a refused drop.
    virtual void show_message(const std::string& text) = 0;

    // A file's conversion is about to start (progress displays).
    virtual void file_started(int index, const std::string& name) {
        (void)index;
        (void)name;
    }
};

// Converts file i of a batch and leaves the result in a conversion object. The batch's own
// converter converts on the spot; a parallel front end may hand in results converted ahead,
// as long as each is what converting file i at its turn would give.
class FileConverter {
  public:
    virtual ~FileConverter() = default;
    // Returns the conversion message (empty on success) and, on success, the conversion that
    // holds file i's VramImage, PreviewImage and ExportImage header.
    virtual std::string convert(int index, const std::string& name, Conversion*& result) = 0;
};

// Converts each file with convert_file into a conversion object and scratch pool of its own
// (what one worker of a parallel batch runs).
class StandaloneConverter final : public FileConverter {
  public:
    // Settings and palettes are copied.
    StandaloneConverter(const ConversionSettings& settings, const DefaultPalettes& palettes);
    std::string convert(int index, const std::string& name, Conversion*& result) override;

  private:
    const ConversionSettings settings_;
    const DefaultPalettes palettes_;
    std::unique_ptr<Conversion> conversion_;
    ScratchPool pool_;
};

class Batch {
  public:
    // `settings` and `palettes` are read live: a change between two files applies to the
    // files not yet converted.
    Batch(const ConversionSettings& settings, const DefaultPalettes& palettes);
    ~Batch();

    int file_count() const { return file_count_; }
    const std::string& file_name(int i) const { return file_names_[static_cast<std::size_t>(i)]; }
    bool busy() const { return stop_state_.load() != idle; }
    int progress_percent() const { return progress_percent_; }

    // The conversion that drops and the batch's own converter fill: its PreviewImage is the
    // one to draw. (A front end's FileConverter keeps its results in its own objects.)
    Conversion& conversion() { return *conversion_; }
    ScratchPool& scratch() { return pool_; }

    // "End", closing and destroying the window: a running batch stops before its next file.
    // Ignored while no batch runs. Safe to call from a signal handler or another thread.
    void request_stop();

    // A drop of files: ignored during a batch; otherwise lists the names and converts file 0
    // for the preview.
    void on_drop_files(BatchHost& host, const std::vector<std::string>& names);

    // Converts file 0 and draws it; a failure leaves an all-black preview and no message.
    void refresh_preview(BatchHost& host);

    // "Conversion": converts every listed ".bmp" in turn, writes its ".S02" (and the "TEST_"
    // picture on request), and shows one message at the end, which it also returns. A second
    // call while a batch runs does nothing and returns an empty text.
    std::string run_batch(BatchHost& host);
    // The same with each file's conversion taken from `converter`; skipping, writing, stopping
    // and reporting stay here, in list order.
    std::string run_batch(BatchHost& host, FileConverter& converter);

  private:
    const ConversionSettings& settings_;
    const DefaultPalettes& palettes_;
    std::unique_ptr<Conversion> conversion_;
    ScratchPool pool_;
    std::vector<std::string> file_names_;
    int file_count_ = 0;
    // The busy flag and the stop request in one word, so that a request racing with the end of
    // a batch can never survive into the next one.
    enum : int { idle = 0, running = 1, stopping = 2 };
    std::atomic<int> stop_state_{idle};
    static_assert(std::atomic<int>::is_always_lock_free, "request_stop runs in signal handlers");
    int progress_percent_ = 0;
};

}  // namespace lumaweave
