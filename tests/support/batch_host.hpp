// A BatchHost that records what the batch asks of its platform, for tests of the batch driver.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "batch/batch.hpp"

namespace lumaweave::test {

struct RecordingHost final : BatchHost {
    explicit RecordingHost(Batch& b) : batch(b) {}

    Batch& batch;
    bool export_on = false;  // "BMP Export" "Yes"
    bool preview_on = true;  // whether a drop converts file 0
    std::vector<std::string> messages;
    std::vector<std::string> list;  // the list box
    std::vector<int> started;       // files whose conversion started
    std::vector<int> progress;      // progress_percent when each started
    int previews = 0;
    int event_rounds = 0;
    // Runs inside the batch's event processing after each written file (round 1, 2, ...).
    std::function<void(int round)> on_events;

    void clear_file_list() override { list.clear(); }
    void append_file_list(const std::string& name) override { list.push_back(name); }
    void draw_preview() override { ++previews; }
    bool shows_preview() override { return preview_on; }
    bool export_requested() override { return export_on; }
    void process_pending_events() override {
        ++event_rounds;
        if (on_events) on_events(event_rounds);
    }
    void show_message(const std::string& text) override { messages.push_back(text); }
    void file_started(int index, const std::string&) override {
        EXPECT_TRUE(batch.busy());
        started.push_back(index);
        progress.push_back(batch.progress_percent());
    }
};

}  // namespace lumaweave::test
