#include "batch/scan.hpp"

#include <algorithm>
#include <filesystem>
#include <unordered_set>

namespace lumaweave {

namespace {

namespace fs = std::filesystem;

void scan_folder(const std::string& folder, const std::string& relative, bool recursive,
                 SourceList& list) {
    std::vector<std::string> pictures, folders;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code ignored;
        const std::string name = it->path().filename().string();
        if (it->is_directory(ignored)) {
            if (recursive && !it->is_symlink(ignored)) folders.push_back(name);
        } else if (is_picture_name(name) && it->is_regular_file(ignored)) {
            pictures.push_back(name);
        }
    }
    if (ec) {
        list.failures.push_back(failure(Status::file_cannot_open, folder, ec.message()));
        return;
    }
    std::sort(pictures.begin(), pictures.end());  // byte order: char_traits compares unsigned
    std::sort(folders.begin(), folders.end());
    // What this program writes beside each picture of the folder, and for which picture.
    std::unordered_map<std::string, std::string> outputs;
    for (const std::string& name : pictures) {
        for (const OutputFormat* format : all_output_formats()) {
            const std::string output = format->file_name(name);
            if (output != name) outputs.emplace(output, name);
        }
    }
    for (const std::string& name : pictures) {
        const std::string path = joined(folder, name);
        if (const auto source = outputs.find(name); source != outputs.end()) {
            list.left_out.push_back({path, joined(folder, source->second)});
            continue;
        }
        list.files.push_back(path);
        if (!relative.empty()) list.subfolders.emplace(path, relative);
    }
    for (const std::string& name : folders)
        scan_folder(joined(folder, name), joined(relative, name), recursive, list);
}

// The file a name leads to: absolute, with every symbolic link resolved (also the last, when it
// exists), so that two names of one file compare equal.
std::string identity(const std::string& name) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(name, ec);
    const fs::path resolved = fs::weakly_canonical(absolute, ec);
    return (ec ? absolute.lexically_normal() : resolved).string();
}

// The name as written, made absolute.
std::string spelled(const std::string& name) {
    std::error_code ec;
    return fs::absolute(name, ec).lexically_normal().string();
}

}  // namespace

SourceList collect_sources(const std::vector<std::string>& arguments, bool recursive) {
    SourceList list;
    for (const std::string& argument : arguments) {
        std::error_code ec;
        if (!argument.empty() && fs::is_directory(argument, ec)) {
            scan_folder(argument, "", recursive, list);
        } else {
            list.files.push_back(argument);
        }
    }
    return list;
}

std::optional<OutputConflict> find_output_conflict(const std::vector<std::string>& files,
                                                   const OutputPlan& plan) {
    std::vector<std::string> ids(files.size());           // each picture's identity
    std::unordered_map<std::string, std::size_t> inputs;  // identity -> first file of it
    std::unordered_set<std::string> input_names;          // as spelled
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!is_picture_name(files[i])) continue;
        ids[i] = identity(files[i]);
        inputs.emplace(ids[i], i);
        input_names.insert(spelled(files[i]));
    }
    std::unordered_map<std::string, std::size_t> writers;  // output identity -> first writer
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!is_picture_name(files[i])) continue;
        const std::string& source = ids[i];
        for (const std::string& output : plan.paths(files[i])) {
            const std::string id = identity(output);
            if (const auto input = inputs.find(id); input != inputs.end()) {
                const bool kept = plan.no_clobber && output_taken(output);
                const bool own_file = id != source && input_names.contains(spelled(output));
                if (!kept && !own_file) {
                    return OutputConflict{OutputConflict::replaces_input, files[i],
                                          files[input->second], output};
                }
            }
            const auto [writer, first] = writers.emplace(id, i);
            if (!first && ids[writer->second] != source) {
                return OutputConflict{OutputConflict::same_output, files[writer->second], files[i],
                                      output};
            }
        }
    }
    return std::nullopt;
}

}  // namespace lumaweave
