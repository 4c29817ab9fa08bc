#include "batch/batch.hpp"

#include "batch/output.hpp"
#include "convert/convert.hpp"
#include "io/file_io.hpp"
#include "io/messages.hpp"

namespace lumaweave {

namespace {

// Converts on the spot, in the batch's own conversion object.
class InPlaceConverter final : public FileConverter {
  public:
    InPlaceConverter(Conversion& conv, ScratchPool& pool, const ConversionSettings& settings,
                     const DefaultPalettes& palettes)
        : conv_(conv), pool_(pool), settings_(settings), palettes_(palettes) {}

    std::string convert(int, const std::string& name, Conversion*& result) override {
        result = &conv_;
        return convert_file(conv_, pool_, name, settings_, palettes_);
    }

  private:
    Conversion& conv_;
    ScratchPool& pool_;
    const ConversionSettings& settings_;
    const DefaultPalettes& palettes_;
};

}  // namespace

StandaloneConverter::StandaloneConverter(const ConversionSettings& settings,
                                         const DefaultPalettes& palettes)
    : settings_(settings), palettes_(palettes), conversion_(make_conversion()) {}

std::string StandaloneConverter::convert(int, const std::string& name, Conversion*& result) {
    result = conversion_.get();
    std::string message = convert_file(*conversion_, pool_, name, settings_, palettes_);
    // The conversion keeps nothing of the file buffers.
    pool_.free_all();
    return message;
}

Batch::Batch(const ConversionSettings& settings, const DefaultPalettes& palettes)
    : settings_(settings), palettes_(palettes), conversion_(make_conversion()) {}

Batch::~Batch() = default;

void Batch::request_stop() {
    int expected = running;
    stop_state_.compare_exchange_strong(expected, stopping);
}

void Batch::on_drop_files(BatchHost& host, const std::vector<std::string>& names) {
    if (busy()) return;
    host.clear_file_list();
    if (names.size() >= static_cast<std::size_t>(file_list_capacity)) {
        host.show_message(msg::too_many_files);
        // The list shows nothing now, so "Conversion" must not work through older names.
        file_count_ = 0;
    } else {
        file_names_ = names;
        file_count_ = static_cast<int>(names.size());
        for (const std::string& name : file_names_)
            host.append_file_list(name);
        if (host.shows_preview()) refresh_preview(host);
    }
    pool_.free_all();
}

void Batch::refresh_preview(BatchHost& host) {
    // No block of an earlier conversion is in use here; emptying the pool keeps a long run of
    // option clicks from piling up file buffers.
    pool_.free_all();
    static const std::string no_name;
    const std::string& name = file_count_ > 0 ? file_names_[0] : no_name;
    const std::string message = convert_file(*conversion_, pool_, name, settings_, palettes_);
    if (!message.empty()) conversion_->preview.fill(0);
    host.draw_preview();
}

std::string Batch::run_batch(BatchHost& host) {
    InPlaceConverter converter(*conversion_, pool_, settings_, palettes_);
    return run_batch(host, converter);
}

std::string Batch::run_batch(BatchHost& host, FileConverter& converter) {
    int expected = idle;
    if (!stop_state_.compare_exchange_strong(expected, running)) return {};
    std::string message;
    if (file_count_ == 0) message = msg::select_a_file;
    for (int i = 0; i < file_count_; ++i) {
        expected = stopping;
        if (stop_state_.compare_exchange_strong(expected, running)) {
            progress_percent_ = 0;
            message = msg::stopped;
            break;
        }
        progress_percent_ = static_cast<int>(static_cast<long long>(i) * 100 / file_count_);
        const std::string& name = file_names_[static_cast<std::size_t>(i)];
        if (!is_bmp_name(name)) continue;
        host.file_started(i, name);
        Conversion* result = nullptr;
        message = converter.convert(i, name, result);
        if (message.empty() && result == nullptr) message = msg::memory_error;
        if (!message.empty()) break;
        host.draw_preview();
        message = write_whole_file(vram_name(name), result->vram.data(), result->vram.size());
        if (!message.empty()) break;
        pool_.free_all();
        if (host.export_requested()) {
            const std::size_t size = build_export_image(*result);
            message = write_whole_file(export_name(name), result->export_image.data(), size);
            if (!message.empty()) break;
        }
        host.process_pending_events();
    }
    pool_.free_all();
    progress_percent_ = 0;
    // A request that came after the last file's events is not honoured, and is dropped here
    // rather than stopping some later batch before its first file.
    stop_state_.store(idle);
    if (message.empty()) message = msg::ended;
    host.show_message(message);
    return message;
}

}  // namespace lumaweave
