// A BatchHost that records what the batch asks of its platform.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "batch/batch.hpp"

namespace lumaweave::test {

struct RecordingHost final : BatchHost {
    explicit RecordingHost(Batch& b) : batch(b) {}
    Batch& batch;
    bool export_on = false, preview_on = true;
    std::vector<std::string> messages, list;
    // Per file started: its index (-1 if the batch was not busy) and the progress it showed.
    std::vector<int> started, progress;
    int previews = 0, event_rounds = 0;
    std::function<void(int round)> on_events;  // runs in the events after each written file

    void clear_file_list() override { list.clear(); }
    void append_file_list(const std::string& name) override { list.push_back(name); }
    void draw_preview() override { ++previews; }
    bool shows_preview() override { return preview_on; }
    bool export_requested() override { return export_on; }
    void process_pending_events() override {
        if (on_events) on_events(event_rounds + 1);
        ++event_rounds;
    }
    void show_message(const std::string& text) override { messages.push_back(text); }
    void file_started(int index, const std::string&) override {
        started.push_back(batch.busy() ? index : -1);
        progress.push_back(batch.progress_percent());
    }
};

}  // namespace lumaweave::test
