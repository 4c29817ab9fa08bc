#include "picture/codec_loader.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <mutex>
#include <vector>

#ifndef LUMAWEAVE_MODULE_DIR
#define LUMAWEAVE_MODULE_DIR "../lib/lumaweave"
#endif

namespace lumaweave::picture {

namespace {

constexpr const char* module_name = "lumaweave-vips.so";

std::mutex mutex;
std::string module_path;  // named by use_codec_module
Codec* codec = nullptr;
std::string load_error;
bool tried = false;

// The folder of the running program.
std::string program_folder() {
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) return {};
    std::string path(buffer.data(), static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void load() {
    std::vector<std::string> candidates;
    if (!module_path.empty()) {
        candidates.push_back(module_path);
    } else {
        // Beside the program in a build, or in the package's library folder, found from the
        // program's folder so that an installation anywhere works.
        const std::string folder = program_folder();
        candidates.push_back(folder + "/" + module_name);
        candidates.push_back(folder + "/" LUMAWEAVE_MODULE_DIR "/" + module_name);
    }
    std::string errors;
    for (const std::string& path : candidates) {
        if (::access(path.c_str(), R_OK) != 0) continue;
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* why = ::dlerror();
            errors = why ? why : path;
            continue;
        }
        using Entry = Codec* (*)(int);
        const auto entry = reinterpret_cast<Entry>(::dlsym(handle, "lumaweave_picture_codec"));
        Codec* found = entry ? entry(codec_interface_version) : nullptr;
        if (found != nullptr) {
            codec = found;  // the module stays loaded for the program's life
            return;
        }
        errors = path + " is of another version";
        ::dlclose(handle);
    }
    load_error = "the picture library module " + std::string(module_name) +
                 (errors.empty() ? " is not installed" : " cannot be loaded: " + errors);
}

}  // namespace

Codec* load_codec(std::string& error) {
    std::lock_guard lock(mutex);
    if (!tried) {
        tried = true;
        if (codec == nullptr) load();
    }
    if (codec == nullptr) error = load_error;
    return codec;
}

void use_codec_module(const std::string& path) {
    std::lock_guard lock(mutex);
    module_path = path;
}

void use_codec(Codec* c) {
    std::lock_guard lock(mutex);
    codec = c;
}

}  // namespace lumaweave::picture
