// What became of an operation: a status code, the file it concerns and the system's reason where
// there is one. Code decides by the status; the text for people comes from message_text(), only
// where it is shown.
#pragma once

#include <string>
#include <string_view>

namespace lumaweave {

enum class Status {
    ok,
    // Whole-file input and output.
    file_not_found,
    file_cannot_open,
    memory_error,
    read_error,
    could_not_create,
    // The palette configuration: a key is missing, or its list ends early.
    config_item_not_found,
    config_not_enough,
    // Source picture checks, in the order they are made.
    width_not_multiple_of_8,
    width_exceeds_256,
    height_exceeds_192,
    image_too_small,
    format_not_convertible,
    // A conversion setting holds a value its field does not take.
    invalid_settings,
    // Outcomes of a batch as a whole.
    no_files,
    stopped,
    too_many_files,
    // Pictures other than the 24-bit BMP: one that cannot be decoded (the detail says why), and
    // one whose declared size is beyond what is read at all (the detail gives it and the limit).
    picture_unreadable,
    picture_too_large,
};

struct Outcome {
    Status status = Status::ok;
    std::string file;    // the file concerned, when there is one
    std::string detail;  // the configuration key, or the system's error text

    bool ok() const { return status == Status::ok; }
};

inline Outcome failure(Status status, std::string file = {}, std::string detail = {}) {
    return {status, std::move(file), std::move(detail)};
}

// The program's own text for a status (the batch's "ended" for ok).
std::string_view message_text(Status status);

// The text shown for an outcome: the status's text, followed by the key for the configuration's
// messages (which end in " : " and name it), and by ": " and the detail for the pictures that
// cannot be read. The file name is the front end's to add.
std::string shown_text(const Outcome& outcome);

}  // namespace lumaweave
