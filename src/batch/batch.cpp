#include "batch/batch.hpp"

#include <filesystem>
#include <unordered_set>

#include "batch/parallel.hpp"
#include "io/file_io.hpp"

namespace lumaweave {

namespace {

namespace fs = std::filesystem;

// Writes one output, making its folder first when the plan puts it in a folder of its own.
Outcome write_output(const OutputPlan& plan, const std::string& path,
                     std::span<const std::uint8_t> bytes) {
    if (!plan.directory.empty()) {
        const fs::path folder = fs::path(path).parent_path();
        std::error_code ec;
        if (!folder.empty() && !fs::is_directory(folder, ec)) {
            fs::create_directories(folder, ec);
            if (ec) return failure(Status::could_not_create, folder.string(), ec.message());
        }
    }
    return write_whole_file(path, bytes);
}

}  // namespace

std::string ending_text(const BatchOutcome& outcome) {
    if (!outcome.first_failure.ok() && outcome.status == outcome.first_failure.status) {
        return shown_text(outcome.first_failure);
    }
    return std::string(message_text(outcome.status));
}

void BatchObserver::file_started(int, const std::string&, int) {}
void BatchObserver::file_converted(int, const std::string&, const Result&,
                                   const outputs::PictureFiles&) {}
void BatchObserver::file_failed(int, const std::string&, const Outcome&) {}
void BatchObserver::file_skipped(int, const std::string&) {}
void BatchObserver::between_files() {}

Batch::Batch(std::vector<std::string> files, const OutputPlan& plan, FailurePolicy policy)
    : files_(std::move(files)), plan_(plan), policy_(policy) {
    // Outputs of the jobs so far; a job whose inputs are among them must see them written.
    std::unordered_set<std::string> written;
    for (int i = 0; i < static_cast<int>(files_.size()); ++i) {
        const std::string& name = files_[static_cast<std::size_t>(i)];
        if (!is_picture_name(name)) continue;
        if (plan_.no_clobber && all_outputs_exist(name)) continue;  // skipped at its turn
        const bool in_turn = written.contains(file_identity(name)) ||
                             written.contains(file_identity(companion_palette_name(name)));
        jobs_.push_back({i, name, in_turn});
        for (const std::string& output : plan_.paths(name))
            written.insert(file_identity(output));
    }
}

BatchOutcome Batch::run(FileConverter& converter, BatchObserver& observer, const StopToken& stop) {
    BatchOutcome outcome;
    const int count = static_cast<int>(files_.size());
    if (files_.size() >= file_list_capacity) {
        outcome.status = Status::too_many_files;
        return outcome;
    }
    if (count == 0) outcome.status = Status::no_files;
    for (int i = 0; i < count; ++i) {
        if (stop.requested()) {
            outcome.status = Status::stopped;
            break;
        }
        const std::string& name = files_[static_cast<std::size_t>(i)];
        if (!is_picture_name(name) || (plan_.no_clobber && all_outputs_exist(name))) {
            ++outcome.skipped;
            observer.file_skipped(i, name);
            continue;
        }
        observer.file_started(i, name, static_cast<int>(static_cast<long long>(i) * 100 / count));
        const Result& result = converter.convert(i, name);
        Outcome failed;
        std::optional<outputs::PictureFiles> files;
        if (!result.ok()) {
            failed = result.outcome;
            if (failed.file.empty()) failed.file = name;
        } else {
            files.emplace(result, name, plan_.options);
            for (const OutputFormat* format : plan_.formats) {
                const std::string path = plan_.path(*format, name);
                if (plan_.no_clobber && output_taken(path)) continue;
                failed = write_output(plan_, path, format->bytes(*files));
                if (!failed.ok()) break;
            }
        }
        if (!failed.ok()) {
            ++outcome.failed;
            observer.file_failed(i, name, failed);
            if (outcome.first_failure.ok()) outcome.first_failure = failed;
            if (policy_ == FailurePolicy::stop) break;
        } else {
            ++outcome.converted;
            observer.file_converted(i, name, result, *files);
        }
        observer.between_files();
    }
    if (outcome.status == Status::ok && !outcome.first_failure.ok()) {
        outcome.status = outcome.first_failure.status;
    }
    return outcome;
}

bool Batch::all_outputs_exist(const std::string& name) const {
    for (const std::string& path : plan_.paths(name)) {
        if (!output_taken(path)) return false;
    }
    return true;
}

BatchOutcome Batch::run(const ConverterFactory& make, int workers, BatchObserver& observer,
                        const StopToken& stop) {
    if (workers <= 1 || jobs_.size() <= 1) {
        const std::unique_ptr<FileConverter> converter = make();
        return run(*converter, observer, stop);
    }
    ParallelConverter parallel(jobs_, make, workers);
    return run(parallel, observer, stop);
}

}  // namespace lumaweave
