// lumaweave-cli: converts BMP pictures to SCREEN 2 ".S02" files from a terminal or a script, with
// the batch driver that the dialog runs too.
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
#include "cli/options.hpp"
#include "cli/report.hpp"
#include "io/file_io.hpp"
#include "quality/quality_converter.hpp"

using namespace lumaweave;

namespace {

constexpr int exit_ended = 0;
constexpr int exit_failed = 1;
constexpr int exit_usage = 2;
constexpr int exit_stopped = 130;  // the shell's code for a Ctrl-C

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

// The batch's platform on a terminal: progress on standard error, the reports of --report and
// --auto on standard output, the outcome at the end.
class TerminalObserver final : public BatchObserver {
  public:
    TerminalObserver(int file_count, bool progress, const cli::Options& options,
                     const std::vector<quality::FileQuality>& records)
        : file_count_(file_count),
          progress_(progress),
          options_(options),
          records_(records) {}

    void file_started(int index, const std::string& name, int percent) override {
        if (!progress_) return;
        constexpr int bar_width = 20;
        const int filled = percent * bar_width / 100;
        char head[64];
        std::snprintf(head, sizeof head, "[%-*s] %3d%% %d/%d ", bar_width,
                      std::string(static_cast<std::size_t>(filled), '#').c_str(), percent,
                      index + 1, file_count_);
        std::string line = head;
        const int room = terminal_columns() - 1 - static_cast<int>(line.size());
        line += fit_name(name, room > 4 ? room : 4);
        std::fprintf(stderr, "\r\033[K%s", line.c_str());
        std::fflush(stderr);
        bar_shown_ = true;
    }

    void file_converted(int index, const std::string& name, const Result&) override {
        if (records_.empty()) return;
        const std::string lines =
            cli::file_report(options_, name, records_[static_cast<std::size_t>(index)]);
        if (lines.empty()) return;
        clear_bar();
        std::fputs(lines.c_str(), stdout);
        std::fflush(stdout);
    }

    void file_failed(int, const std::string& name, const Outcome&) override {
        if (failed_name_.empty()) failed_name_ = name;
    }

    // The one message that ends the run: "ended" on standard output, anything else on standard
    // error, a file's failure with the name of the file.
    void finish(const BatchOutcome& outcome) {
        clear_bar();
        if (outcome.status == Status::ok) {
            std::printf("%s\n", std::string(message_text(Status::ok)).c_str());
            std::fflush(stdout);
            return;
        }
        const std::string text = ending_text(outcome);
        if (!outcome.first_failure.ok() && outcome.status == outcome.first_failure.status) {
            std::fprintf(stderr, "%s: %s\n", failed_name_.c_str(), text.c_str());
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

    int file_count_;
    bool progress_;
    const cli::Options& options_;
    const std::vector<quality::FileQuality>& records_;
    bool bar_shown_ = false;
    std::string failed_name_;
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

int exit_code(Status status) {
    switch (status) {
        case Status::ok:
            return exit_ended;
        case Status::stopped:
            return exit_stopped;
        default:
            return exit_failed;
    }
}

int run(const cli::Options& options) {
    DefaultPalettes palettes;
    if (const std::string message = load_palettes(options, palettes); !message.empty()) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return exit_failed;
    }

    OutputPlan plan;
    if (options.export_bmp) plan.formats.push_back(&test_picture_output);
    Batch batch(options.files, plan);

    // With --report or --auto every file is converted (and measured, searched) by a quality
    // converter, one per thread.
    const bool quality = options.report != cli::ReportFormat::none || options.auto_settings;
    quality::QualityPlan quality_plan;
    quality_plan.search = options.auto_settings;
    quality_plan.measure = options.report != cli::ReportFormat::none;
    quality_plan.options.budget = options.auto_budget;
    quality_plan.options.display = options.display;
    std::vector<quality::FileQuality> records(quality ? options.files.size() : 0);
    const ConverterFactory make = [&]() -> std::unique_ptr<FileConverter> {
        if (quality) {
            return std::make_unique<quality::QualityConverter>(options.settings, palettes,
                                                               quality_plan, records);
        }
        return std::make_unique<SettingsConverter>(options.settings, palettes);
    };

    const bool progress = !options.quiet && ::isatty(STDERR_FILENO) == 1;
    TerminalObserver observer(static_cast<int>(options.files.size()), progress, options,
                              records);
    announce_stop = progress;
    install_interrupt_handler();
    BatchOutcome outcome;
    try {
        outcome = batch.run(make, options.jobs, observer, stop_token);
    } catch (const std::system_error&) {
        // No worker threads could be started; nothing has been written yet.
        std::fprintf(stderr, "%s: no worker threads, converting on one\n", cli::program_name);
        outcome = batch.run(make, 1, observer, stop_token);
    }
    observer.finish(outcome);
    return exit_code(outcome.status);
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
        std::fprintf(stderr, "%s\n", std::string(message_text(Status::memory_error)).c_str());
        return exit_failed;
    }
}
