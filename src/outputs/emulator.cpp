#include "outputs/emulator.hpp"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

extern char** environ;

namespace lumaweave::outputs {

namespace {

namespace fs = std::filesystem;

// What the shell runs: openMSX on the cartridge, then the cartridge's folder removed. In the
// background, so that the shell itself ends at once and openMSX is nobody's child to wait for.
constexpr const char* launch_script =
    "( \"$1\" -machine \"$2\" -cart \"$3\" >/dev/null </dev/null; rm -rf -- \"$4\" ) &";

// A file name without the characters a shell or openMSX's command line might take amiss.
std::string plain_name(const std::string& name) {
    std::string out;
    for (const char c : name.substr(name.find_last_of("/\\") + 1)) {
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
        out += kept ? c : '_';
    }
    return out.empty() || out.front() == '.' || out.front() == '-' ? "picture" + out : out;
}

}  // namespace

std::string find_emulator() {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        const std::string folder = folders.substr(start, end - start);
        const std::string program = (folder.empty() ? "." : folder) + "/" + emulator_program;
        struct stat s {};
        if (::stat(program.c_str(), &s) == 0 && S_ISREG(s.st_mode) &&
            ::access(program.c_str(), X_OK) == 0)
            return program;
        start = end + 1;
    }
    return {};
}

std::string show_cartridge(std::span<const std::uint8_t> rom, const std::string& name, bool msx2) {
    const std::string program = find_emulator();
    if (program.empty()) return emulator_missing;
    std::error_code ec;
    std::string pattern = (fs::temp_directory_path(ec) / "lumaweave-show-XXXXXX").string();
    if (ec || ::mkdtemp(pattern.data()) == nullptr)
        return "no temporary folder for the cartridge: " + std::string(std::strerror(errno));
    const std::string folder = pattern;
    const std::string file = folder + "/" + plain_name(name) + ".rom";
    {
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(rom.data()),
                  static_cast<std::streamsize>(rom.size()));
        if (!out.flush()) {
            fs::remove_all(folder, ec);
            return "could not write " + file;
        }
    }
    const char* machine = msx2 ? "C-BIOS_MSX2" : "C-BIOS_MSX1";
    std::vector<std::string> args = {"/bin/sh", "-c",    launch_script, "sh",
                                     program,   machine, file,          folder};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A session of its own: Ctrl-C on the terminal stops the batch, not the emulator.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t shell = 0;
    const int failed = ::posix_spawn(&shell, "/bin/sh", nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (failed != 0) {
        fs::remove_all(folder, ec);
        return "could not start " + program + ": " + std::strerror(failed);
    }
    // The shell ends as soon as it has started openMSX in the background.
    int status = 0;
    while (::waitpid(shell, &status, 0) < 0 && errno == EINTR) {
    }
    return {};
}

}  // namespace lumaweave::outputs
