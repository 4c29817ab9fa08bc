// Running lumaweave-cli (or another program) in a folder with its output captured.
#pragma once

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <utility>

#include "support/batch_host.hpp"

namespace lumaweave::test {

inline const std::string cli_program = LUMAWEAVE_CLI;
inline const std::string ended_line = std::string(msg::ended) + "\n";

inline std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> out(1);
    for (char c : text)
        c == separator ? out.emplace_back() : out.back() += c;
    return out;
}

inline std::string text(const std::filesystem::path& path) {
    const std::vector<std::uint8_t> bytes = read_file(path);
    return {bytes.begin(), bytes.end()};
}

struct ProgramResult {
    int exit_code = -1;  // -1 when it did not exit normally
    std::string out, err;
};

// Runs `argv` in `folder` in the background; on `terminal` its standard error is a
// pseudo-terminal and its standard output is discarded.
class Program {
  public:
    Program(std::vector<std::string> argv, const std::filesystem::path& folder,
            bool terminal = false)
        : terminal_(terminal),
          pid_(terminal ? ::forkpty(&tty_, nullptr, nullptr, nullptr) : ::fork()) {
        if (pid_ != 0) return;
        std::vector<char*> args;
        for (std::string& s : argv)
            args.push_back(s.data());
        args.push_back(nullptr);
        const auto to = [](const std::filesystem::path& file, int fd) {
            return ::dup2(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), fd) >= 0;
        };
        if ((terminal ? to("/dev/null", 1) : to(capture_ / "out", 1) && to(capture_ / "err", 2)) &&
            ::chdir(folder.c_str()) == 0)
            ::execv(args[0], args.data());
        ::_exit(127);
    }
    ~Program() {
        if (!waited_) ::kill(pid_, SIGKILL), ::waitpid(pid_, nullptr, 0);
        if (terminal_) ::close(tty_);
    }
    bool running() { return !waited_ && !(waited_ = ::waitpid(pid_, &status_, WNOHANG) == pid_); }
    void send(int sig) { ::kill(pid_, sig); }
    ProgramResult wait() {
        ProgramResult r;
        char buffer[4096];  // reads from the terminal fail (EIO) once the program has ended
        for (ssize_t n; terminal_ && (n = ::read(tty_, buffer, sizeof buffer)) > 0;)
            r.err.append(buffer, static_cast<std::size_t>(n));
        if (!std::exchange(waited_, true)) ::waitpid(pid_, &status_, 0);
        if (WIFEXITED(status_)) r.exit_code = WEXITSTATUS(status_);
        if (!terminal_) r.out = text(capture_ / "out"), r.err = text(capture_ / "err");
        return r;
    }

  private:
    ScratchDir capture_;
    bool terminal_, waited_ = false;
    int tty_ = -1, status_ = 0;
    pid_t pid_;
};

// Runs lumaweave-cli with `args` in `folder` to its end.
inline ProgramResult run_cli(const std::vector<std::string>& args,
                             const std::filesystem::path& folder, bool terminal = false) {
    std::vector<std::string> argv{cli_program};
    argv.insert(argv.end(), args.begin(), args.end());
    return Program(argv, folder, terminal).wait();
}

// A palette configuration whose MSX1 table is the MSX2 one.
inline std::string msx2_only_config() {
    std::string table;
    for (std::size_t i = 0; i < DefaultPalettes{}.msx2.size(); ++i)
        table += std::to_string(DefaultPalettes{}.msx2[i]) + (i % 3 == 2 ? " " : ",");
    return "* MSX1 palette\n" + table + "\n* MSX2 palette\n" + table + "\n";
}

}  // namespace lumaweave::test
