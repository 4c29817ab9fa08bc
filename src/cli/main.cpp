// lumaweave-cli: converts pictures to SCREEN 2 ".S02" files from a terminal or a script, with the
// batch driver that the dialog runs too.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "batch/batch.hpp"
#include "batch/scan.hpp"
#include "batch/thread_pool.hpp"
#include "cli/options.hpp"
#include "cli/report.hpp"
#include "io/file_io.hpp"
#include "outputs/emulator.hpp"
#include "picture/reader.hpp"
#include "quality/quality_converter.hpp"

using namespace lumaweave;
using cli::exit_converted, cli::exit_failed, cli::exit_stopped, cli::exit_usage;

namespace {

// Ctrl-C: the batch stops before its next file.
StopToken stop_token;
volatile sig_atomic_t announce_stop = 0;

void on_interrupt(int) {
    stop_token.request();
    if (announce_stop) {
        static const char note[] = "\nstopping before the next file (Ctrl-C again quits at once)\n";
        const ssize_t ignored = ::write(STDERR_FILENO, note, sizeof note - 1);
        (void)ignored;
    }
}

void install_interrupt_handler() {
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    // The second Ctrl-C gets the default action. Outputs are replaced by renaming a complete
    // temporary file, so even that cannot leave a half-written picture.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
}

int terminal_columns() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 20) return size.ws_col;
    return 80;
}

// Keeps the end of a name within `columns` characters (UTF-8 sequences stay whole).
std::string fit_name(const std::string& name, int columns) {
    auto is_lead = [](unsigned char c) { return (c & 0xC0) != 0x80; };
    int count = 0;
    for (unsigned char c : name)
        count += is_lead(c);
    if (count <= columns) return name;
    std::size_t start = 0;
    for (int drop = count - columns + 3; start < name.size(); ++start) {
        if (is_lead(static_cast<unsigned char>(name[start])) && drop-- == 0) break;
    }
    return "..." + name.substr(start);
}

// The line that reports a failure. The system's message comes first, after the name of the
// picture it concerns; an output or a folder that could not be written follows it with the
// system's reason: "could not create file : ... (out/a.S02: Permission denied)".
std::string failure_line(const std::string& name, const Outcome& outcome) {
    std::string text = shown_text(outcome);
    if (outcome.file.empty() || outcome.file == name) {
        // What is wrong with a file no reader takes ("not a PNG, JPEG, ...") follows too.
        const bool reason = outcome.status == Status::file_cannot_open ||
                            outcome.status == Status::read_error ||
                            outcome.status == Status::format_not_convertible;
        if (reason && !outcome.detail.empty()) text += " (" + outcome.detail + ")";
        return name + ": " + text;
    }
    return text + " (" + outcome.file + (outcome.detail.empty() ? "" : ": " + outcome.detail) + ")";
}

// The batch's platform on a terminal: the reports of --report and --auto on standard output;
// progress (on a terminal), failures, skipped names and the end on standard error. Search
// progress may come from worker threads, so everything printed goes through one lock.
class TerminalObserver final : public BatchObserver {
  public:
    TerminalObserver(int file_count, bool progress, const cli::Options& options,
                     const std::vector<quality::FileQuality>& records)
        : file_count_(file_count), progress_(progress), options_(options), records_(records) {}

    void file_started(int index, const std::string& name, int percent) override {
        std::lock_guard lock(mutex_);
        current_ = index;
        current_name_ = name;
        draw(percent);
    }

    // The settings search of file `index` has done `share` of its work.
    void search_progress(int index, double share) {
        std::lock_guard lock(mutex_);
        if (index != current_) return;
        draw(static_cast<int>((index + share) * 100 / file_count_));
    }

    void file_converted(int index, const std::string& name, const Result& result,
                        const outputs::PictureFiles& files) override {
        if (options_.show) show(name, result, files);
        if (records_.empty()) return;
        std::optional<cli::TileCounts> tiles;
        if (options_.dedupe) tiles = files.tables().tiles;
        const std::string lines =
            cli::file_report(options_, name, records_[static_cast<std::size_t>(index)], tiles);
        if (lines.empty()) return;
        std::lock_guard lock(mutex_);
        clear_bar();
        std::fputs(lines.c_str(), stdout);
        std::fflush(stdout);
    }

    void file_failed(int, const std::string& name, const Outcome& outcome) override {
        error(failure_line(name, outcome));
        // Once a run: a picture of another size can be framed for the screen.
        if (!hinted_ && options_.framing.framing == picture::Framing::none &&
            picture::framing_would_help(outcome.status)) {
            hinted_ = true;
            error(cli::framing_hint());
        }
    }

    void file_skipped(int, const std::string& name) override {
        std::error_code ec;
        const char* why = !is_picture_name(name)
                              ? (std::filesystem::exists(std::filesystem::symlink_status(name, ec))
                                     ? "not a picture"
                                     : "no such file or folder")
                              : "its outputs exist";  // only --no-clobber skips a picture
        skipped(name, why);
    }

    void skipped(const std::string& name, const std::string& why) {
        if (!options_.quiet) error(name + ": skipped (" + why + ")");
    }

    // Opens the result's cartridge in openMSX, for the first pictures of the run.
    void show(const std::string& name, const Result& result, const outputs::PictureFiles& files) {
        if (shown_ == cli::max_shown) {
            ++not_shown_;
            return;
        }
        ++shown_;
        const std::string failed =
            outputs::show_cartridge(files.cartridge(), base_name(name), result.msx2_palette);
        if (!failed.empty()) error(name + ": not shown: " + failed);
    }

    // Pictures --show left unopened.
    int not_shown() const { return not_shown_; }

    // A line on standard error, the progress bar cleared first.
    void error(const std::string& line) {
        std::lock_guard lock(mutex_);
        clear_bar();
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }

    // The end of a run that went through its whole list: the bar full, then gone.
    void finish() {
        std::lock_guard lock(mutex_);
        current_ = -1;
        if (file_count_ > 0) draw(100, file_count_);
        clear_bar();
    }

  private:
    void draw(int percent, int shown_index = -1) {
        if (!progress_ || (percent == drawn_percent_ && bar_shown_)) return;
        constexpr int bar_width = 20;
        const int filled = percent * bar_width / 100;
        char head[64];
        std::snprintf(head, sizeof head, "[%-*s] %3d%% %d/%d ", bar_width,
                      std::string(static_cast<std::size_t>(filled), '#').c_str(), percent,
                      shown_index >= 0 ? shown_index : current_ + 1, file_count_);
        std::string line = head;
        const int room = terminal_columns() - 1 - static_cast<int>(line.size());
        line += fit_name(current_name_, room > 4 ? room : 4);
        std::fprintf(stderr, "\r\033[K%s", line.c_str());
        std::fflush(stderr);
        bar_shown_ = true;
        drawn_percent_ = percent;
    }

    void clear_bar() {
        if (bar_shown_) {
            std::fprintf(stderr, "\r\033[K");
            std::fflush(stderr);
            bar_shown_ = false;
        }
    }

    std::mutex mutex_;
    int file_count_;
    bool progress_;
    const cli::Options& options_;
    const std::vector<quality::FileQuality>& records_;
    int shown_ = 0, not_shown_ = 0;
    bool bar_shown_ = false;
    bool hinted_ = false;
    int current_ = -1, drawn_percent_ = -1;
    std::string current_name_;
};

// The palettes: the named configuration, or lumaweave_config.txt when it exists. Returns the
// text to report when the program cannot go on, else empty.
std::string load_palettes(const cli::Options& options, DefaultPalettes& palettes) {
    ScratchPool pool;
    if (options.config) {
        // Named on purpose, so a missing one is reported rather than silently replaced by the
        // built-in palettes.
        const FileContents probe = read_whole_file(pool, *options.config, 1);
        if (!probe.outcome.ok()) {
            return *options.config + ": " + std::string(message_text(probe.outcome.status));
        }
        pool.free_all();
    }
    const Outcome loaded =
        load_palette_config(pool, palettes, options.config.value_or(config_file_name));
    return loaded.ok() ? std::string() : shown_text(loaded);
}

std::string conflict_text(const OutputConflict& c, const cli::Options& options) {
    std::string text;
    if (c.kind == OutputConflict::same_output) {
        text = c.source + " and " + c.other + " would both write " + c.output +
               "; nothing was converted.\n";
        if (options.output_dir.empty())
            return text +
                   "Rename one of them, or convert them in "
                   "separate runs.";
        return text + "Convert them in separate runs, each with its own -o DIR" +
               (options.recursive ? "." : ", or give their folder with -r to keep its folders.");
    }
    return c.output + ", an output of " + c.source + ", would replace " +
           (c.other == c.source ? "that picture" : "the picture " + c.other + " of this run") +
           "; nothing was converted.\nWrite the outputs to another folder with -o DIR.";
}

void print_error(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
}

int run(const cli::Options& options) {
    DefaultPalettes palettes;
    if (const std::string message = load_palettes(options, palettes); !message.empty()) {
        print_error(message);
        return exit_failed;
    }
    if (options.files.empty()) {
        print_error(std::string(message_text(Status::no_files)));
        return exit_failed;
    }

    const SourceList sources = collect_sources(options.files, options.recursive);
    OutputPlan plan;
    plan.directory = options.output_dir;
    plan.formats.clear();
    for (const OutputKind* kind : options.formats) {
        for (const OutputFormat* format : kind->formats)
            plan.formats.push_back(format);
    }
    if (options.export_bmp) plan.formats.push_back(&test_picture_output);
    plan.subfolders = sources.subfolders;
    plan.no_clobber = options.no_clobber;
    plan.options = {options.dedupe, options.asm_syntax};
    const FailurePolicy policy =
        options.keep_going ? FailurePolicy::keep_going : FailurePolicy::stop;
    Batch batch(sources.files, plan, policy);

    // With --report or --auto every file is converted (and measured, searched) by a quality
    // converter, one per thread.
    const bool quality = options.report != cli::ReportFormat::none || options.auto_settings;
    std::vector<quality::FileQuality> records(quality ? sources.files.size() : 0);
    const bool progress = !options.quiet && ::isatty(STDERR_FILENO) == 1;
    cli::Options run_options = options;
    if (options.show && outputs::find_emulator().empty()) {
        // Said once, before converting; the outputs are written all the same.
        print_error(std::string(cli::program_name) + ": --show: " + outputs::emulator_missing +
                    "; converting without showing");
        run_options.show = false;
    }
    TerminalObserver observer(static_cast<int>(sources.files.size()), progress, run_options,
                              records);
    quality::QualityPlan quality_plan;
    quality_plan.search = options.auto_settings;
    quality_plan.measure = options.report != cli::ReportFormat::none;
    quality_plan.options.budget = options.auto_budget;
    quality_plan.options.display = options.display;
    // The trial conversions run on the process's pool, whose cores the files converted at once
    // (-j) share: never more threads compute than there are cores.
    quality_plan.workers = &process_pool();
    if (progress) {
        quality_plan.progress = [&](int index, double share) {
            observer.search_progress(index, share);
        };
    }
    // Each converter reads its files with a reader of its own: BMP files of every kind, the
    // other formats through the libvips module (loaded only when such a file comes), framing.
    const ConverterFactory make = [&]() -> std::unique_ptr<FileConverter> {
        auto reader = std::make_unique<picture::FileReader>(options.framing);
        if (quality) {
            return std::make_unique<quality::QualityConverter>(
                options.settings, palettes, quality_plan, records, std::move(reader));
        }
        // Each picture's work on the cores that the files converted at once leave free. Of what
        // a conversion makes besides the video memory, only the "TEST_" picture is written.
        Products products;
        products.preview = false;
        products.export_bmp = options.export_bmp;
        products.source = false;
        return std::make_unique<SettingsConverter>(options.settings, palettes, std::move(reader),
                                                   options.display, process_pool(), products);
    };

    for (const SourceList::Left& left : sources.left_out)
        observer.skipped(left.name, "an output of " + left.source);
    for (const Outcome& failed : sources.failures)
        observer.error(failure_line(failed.file, failed));
    if (!sources.failures.empty() && !options.keep_going) return exit_failed;
    if (sources.files.size() >= file_list_capacity) {
        print_error(std::string(message_text(Status::too_many_files)));
        return exit_failed;
    }
    if (const std::optional<OutputConflict> conflict = find_output_conflict(sources.files, plan)) {
        print_error(std::string(cli::program_name) + ": " + conflict_text(*conflict, options));
        return exit_failed;
    }

    BatchOutcome outcome;
    if (!sources.files.empty()) {
        announce_stop = progress;
        install_interrupt_handler();
        try {
            outcome = batch.run(make, options.jobs, observer, stop_token);
        } catch (const std::system_error&) {
            // No worker threads could be started; nothing has been written yet.
            observer.error(std::string(cli::program_name) +
                           ": no worker threads, converting on one");
            outcome = batch.run(make, 1, observer, stop_token);
        }
    }
    outcome.skipped += static_cast<int>(sources.left_out.size());
    outcome.failed += static_cast<int>(sources.failures.size());
    if (outcome.status == Status::stopped) {
        observer.error(std::string(message_text(Status::stopped)));
        return exit_stopped;
    }
    if (outcome.status == Status::too_many_files) {
        observer.error(std::string(message_text(Status::too_many_files)));
        return exit_failed;
    }
    if (observer.not_shown() > 0 && !options.quiet) {
        observer.error(std::string(cli::program_name) + ": --show opened the first " +
                       std::to_string(cli::max_shown) + " pictures; " +
                       std::to_string(observer.not_shown()) + " more were not shown");
    }
    if (outcome.failed > 0 && policy == FailurePolicy::stop) return exit_failed;
    observer.finish();
    if (outcome.failed > 0) {
        observer.error(std::to_string(outcome.converted) + " converted, " +
                       std::to_string(outcome.failed) + " failed, " +
                       std::to_string(outcome.skipped) + " skipped");
        return exit_failed;
    }
    if (!options.quiet) observer.error(std::string(message_text(Status::ok)));
    return exit_converted;
}

}  // namespace

int main(int argc, char** argv) {
    // A closed output pipe must not kill the program before its files are complete.
    ::signal(SIGPIPE, SIG_IGN);

    const cli::ParseResult parsed = cli::parse_command_line(argc, argv);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "%s: %s\n", cli::program_name, parsed.error.c_str());
        return exit_usage;
    }
    if (parsed.options.help || parsed.options.version) {
        const std::string text = parsed.options.help ? cli::help_text()
                                                     : std::string(cli::program_name) + " " +
                                                           std::string(cli::version()) + "\n";
        std::fputs(text.c_str(), stdout);
        return exit_converted;
    }
    cli::Options options = parsed.options;
    if (const std::string message = cli::resolve_display(options); !message.empty()) {
        print_error(message);
        return exit_failed;
    }
    try {
        return run(options);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s\n", std::string(message_text(Status::memory_error)).c_str());
        return exit_failed;
    }
}
