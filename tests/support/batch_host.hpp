// What the batch, command-line and quality tests share: a file converted on its own, and a
// BatchHost that records what the batch asks of its platform.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "batch/batch.hpp"
#include "batch/output.hpp"
#include "convert/convert.hpp"
#include "io/messages.hpp"
#include "support/conversion_fixture.hpp"

namespace lumaweave::test {

inline std::unique_ptr<Conversion> converted(const std::filesystem::path& source,
                                             const ConversionSettings& settings = {},
                                             const DefaultPalettes& palettes = {}) {
    auto conv = make_conversion();
    ScratchPool pool;
    EXPECT_EQ(convert_file(*conv, pool, source.string(), settings, palettes), "") << source;
    return conv;
}

// The ".S02" that converting `source` on its own writes.
inline std::vector<std::uint8_t> converted_vram(const std::filesystem::path& source,
                                                const ConversionSettings& settings = {},
                                                const DefaultPalettes& palettes = {}) {
    const auto conv = converted(source, settings, palettes);
    return {conv->vram.begin(), conv->vram.end()};
}

struct RecordingHost final : BatchHost {
    explicit RecordingHost(Batch& b) : batch(b) {}
    Batch& batch;
    bool export_on = false, preview_on = true;
    std::vector<std::string> messages;
    // Per file started: its index (-1 if the batch was not busy) and the progress it showed.
    std::vector<int> started, progress;
    int event_rounds = 0;
    std::function<void(int round)> on_events = [](int) {};  // in the events after each file

    bool shows_preview() override { return preview_on; }
    bool export_requested() override { return export_on; }
    void process_pending_events() override { on_events(++event_rounds); }
    void show_message(const std::string& text) override { messages.push_back(text); }
    void file_started(int index, const std::string&) override {
        started.push_back(batch.busy() ? index : -1);
        progress.push_back(batch.progress_percent());
    }
};

}  // namespace lumaweave::test
