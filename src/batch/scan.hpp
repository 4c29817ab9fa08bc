// The files a run converts, from the names and folders given, and the checks that a run's outputs
// neither collide nor replace its pictures, made before anything is written.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "batch/output.hpp"

namespace lumaweave {

struct SourceList {
    std::vector<std::string> files;  // in the order to convert them
    // A picture found below a folder given -> its folder relative to that one ("a/b").
    std::unordered_map<std::string, std::string> subfolders;
    struct Left {
        std::string name;
        std::string source;  // the picture beside it that it is an output of
    };
    std::vector<Left> left_out;     // outputs of other pictures, left out of a folder scan
    std::vector<Outcome> failures;  // folders that could not be read
};

// Each argument that is a folder (or a link to one) gives the pictures directly in it, in byte
// order of their names, and with `recursive` then those of its subfolders, each in turn (links to
// folders are not followed below the folder given). A picture that an output format names beside
// another picture of the same folder ("TEST_cat.bmp" beside "cat.bmp") is left out. Any other
// argument is a file name, kept as it is.
SourceList collect_sources(const std::vector<std::string>& arguments, bool recursive);

struct OutputConflict {
    enum Kind {
        same_output,     // two pictures would write `output`
        replaces_input,  // `output`, an output of `source`, is the picture `other` of the run
    } kind;
    std::string source, other, output;
};

// The first conflict of the run's outputs, if any. An output that is itself a picture of the run
// under the same name (a "TEST_" picture an earlier run wrote, named with the others) is no
// conflict: it is this program's own file, converted in its turn. A picture named twice is one
// picture.
std::optional<OutputConflict> find_output_conflict(const std::vector<std::string>& files,
                                                   const OutputPlan& plan);

}  // namespace lumaweave
