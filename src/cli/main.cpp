// lumaweave-cli: converts BMP pictures to SCREEN 2 ".S02" files from a terminal or a script, with
// the batch driver that the dialog's "Conversion" runs.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "batch/batch.hpp"
#include "batch/output.hpp"
#include "batch/parallel.hpp"
#include "cli/options.hpp"
#include "cli/report.hpp"
#include "io/config.hpp"
#include "io/file_io.hpp"
#include "io/messages.hpp"
#include "quality/quality_converter.hpp"

using namespace lumaweave;

namespace {

constexpr int exit_ended = 0;
constexpr int exit_failed = 1;
constexpr int exit_usage = 2;
constexpr int exit_stopped = 130;  // the shell's code for a Ctrl-C

// Ctrl-C. The batch only honours a stop while it runs, so the request is also kept here and
// handed over between two files, like the dialog's pending "End".
std::atomic<Batch*> interrupted_batch{nullptr};
volatile sig_atomic_t interrupted = 0;
volatile sig_atomic_t announce_stop = 0;
static_assert(std::atomic<Batch*>::is_always_lock_free, "used in a signal handler");

void on_interrupt(int) {
    interrupted = 1;
    if (Batch* batch = interrupted_batch.load()) batch->request_stop();
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

// The batch's platform on a terminal: progress on stderr, the outcome on stdout (success) or
// stderr (anything else), Ctrl-C as the stop request.
class TerminalHost final : public BatchHost {
  public:
    TerminalHost(Batch& batch, bool export_bmp, bool progress)
        : batch_(batch), export_bmp_(export_bmp), progress_(progress) {}

    bool shows_preview() override { return false; }
    bool export_requested() override { return export_bmp_; }

    void file_started(int index, const std::string& name) override {
        last_started_ = name;
        if (!progress_) return;
        const int percent = batch_.progress_percent();
        constexpr int bar_width = 20;
        const int filled = percent * bar_width / 100;
        char head[64];
        std::snprintf(head, sizeof head, "[%-*s] %3d%% %d/%d ", bar_width,
                      std::string(static_cast<std::size_t>(filled), '#').c_str(), percent,
                      index + 1, batch_.file_count());
        std::string line = head;
        const int room = terminal_columns() - 1 - static_cast<int>(line.size());
        line += fit_name(name, room > 4 ? room : 4);
        std::fprintf(stderr, "\r\033[K%s", line.c_str());
        std::fflush(stderr);
        bar_shown_ = true;
    }

    void process_pending_events() override {
        if (interrupted) batch_.request_stop();
    }

    // Lines of the --report and --auto output, on standard output.
    void print(const std::string& lines) {
        if (lines.empty()) return;
        clear_bar();
        std::fputs(lines.c_str(), stdout);
        std::fflush(stdout);
    }

    void show_message(const std::string& text) override {
        clear_bar();
        if (text == msg::ended) {
            std::printf("%s\n", text.c_str());
            std::fflush(stdout);
            return;
        }
        // A file's own failure names the file it concerns.
        const bool about_file = text != msg::stopped && text != msg::select_a_file &&
                                text != msg::too_many_files && !last_started_.empty();
        if (about_file) {
            std::fprintf(stderr, "%s: %s\n", last_started_.c_str(), text.c_str());
        } else {
            std::fprintf(stderr, "%s\n", text.c_str());
        }
    }

  private:
    void clear_bar() {
        if (bar_shown_) {
            std::fprintf(stderr, "\r\033[K");
            std::fflush(stderr);
            bar_shown_ = false;
        }
    }

    Batch& batch_;
    bool export_bmp_;
    bool progress_;
    bool bar_shown_ = false;
    std::string last_started_;
};

// Prints what --report and --auto say about each file as the batch takes its result, so that
// the lines come in list order whatever thread converted the file.
class ReportingConverter final : public FileConverter {
  public:
    ReportingConverter(FileConverter& inner, const std::vector<quality::FileQuality>& records,
                       const cli::Options& options, TerminalHost& host)
        : inner_(inner), records_(records), options_(options), host_(host) {}

    std::string convert(int index, const std::string& name, Conversion*& result) override {
        std::string message = inner_.convert(index, name, result);
        if (message.empty()) {
            host_.print(
                cli::file_report(options_, name, records_[static_cast<std::size_t>(index)]));
        }
        return message;
    }

  private:
    FileConverter& inner_;
    const std::vector<quality::FileQuality>& records_;
    const cli::Options& options_;
    TerminalHost& host_;
};

// The palettes: the named configuration, or lumaweave_config.txt when it exists. Returns the
// text to report when the program cannot go on, else empty.
std::string load_palettes(const cli::Options& options, DefaultPalettes& palettes) {
    ScratchPool pool;
    if (options.config) {
        // Named on purpose, so a missing one is reported rather than silently replaced by the
        // built-in palettes.
        const FileContents probe = read_whole_file(pool, *options.config, 1);
        if (!probe.message.empty()) return *options.config + ": " + probe.message;
        pool.free_all();
    }
    return load_palette_config(pool, palettes, options.config.value_or(config_file_name));
}

int run(const cli::Options& options) {
    DefaultPalettes palettes;
    if (const std::string message = load_palettes(options, palettes); !message.empty()) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return exit_failed;
    }

    const bool progress = !options.quiet && ::isatty(STDERR_FILENO) == 1;
    Batch batch(options.settings, palettes);
    TerminalHost host(batch, options.export_bmp, progress);
    batch.on_drop_files(host, options.files);
    // A refused list has been reported; there is nothing to convert.
    if (!options.files.empty() && batch.file_count() == 0) return exit_failed;

    // With --report or --auto every file is converted (and measured, searched) by a quality
    // converter, one per thread.
    const bool quality = options.report != cli::ReportFormat::none || options.auto_settings;
    quality::QualityPlan plan;
    plan.search = options.auto_settings;
    plan.measure = options.report != cli::ReportFormat::none;
    plan.options.budget = options.auto_budget;
    plan.options.display = options.display;
    std::vector<quality::FileQuality> records(quality ? options.files.size() : 0);
    auto make_quality_converter = [&]() -> std::unique_ptr<FileConverter> {
        return std::make_unique<quality::QualityConverter>(options.settings, palettes, plan,
                                                           records);
    };

    int bmp_count = 0;
    for (const std::string& name : options.files)
        bmp_count += is_bmp_name(name);
    std::unique_ptr<ParallelConverter> parallel;
    if (options.jobs > 1 && bmp_count > 1) {
        try {
            if (quality) {
                parallel = std::make_unique<ParallelConverter>(
                    options.files, options.export_bmp, options.jobs, make_quality_converter);
            } else {
                parallel = std::make_unique<ParallelConverter>(
                    options.settings, palettes, options.files, options.export_bmp, options.jobs);
            }
        } catch (const std::system_error&) {
            std::fprintf(stderr, "%s: no worker threads, converting on one\n", cli::program_name);
        }
    }
    std::unique_ptr<FileConverter> sequential;
    if (quality && !parallel) sequential = make_quality_converter();
    std::unique_ptr<ReportingConverter> reporting;
    if (quality) {
        reporting = std::make_unique<ReportingConverter>(
            parallel ? static_cast<FileConverter&>(*parallel) : *sequential, records, options,
            host);
    }

    announce_stop = progress;
    interrupted_batch.store(&batch);
    install_interrupt_handler();
    std::string message;
    if (reporting) {
        message = batch.run_batch(host, *reporting);
    } else {
        message = parallel ? batch.run_batch(host, *parallel) : batch.run_batch(host);
    }
    interrupted_batch.store(nullptr);
    reporting.reset();
    parallel.reset();

    if (message == msg::ended) return exit_ended;
    if (message == msg::stopped) return exit_stopped;
    return exit_failed;
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
    if (parsed.options.help) {
        std::fputs(cli::help_text().c_str(), stdout);
        return exit_ended;
    }
    try {
        return run(parsed.options);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s\n", msg::memory_error);
        return exit_failed;
    }
}
