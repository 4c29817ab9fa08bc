// The command-line program run as a user runs it, in a folder, on a terminal or not.
#pragma once

#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "support/test_pictures.hpp"

namespace lumaweave::test {

inline const std::string cli_program = LUMAWEAVE_CLI;
inline const std::string ended_line = text(Status::ok) + "\n";

inline std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> out(1);
    for (char c : text)
        c == separator ? out.emplace_back() : out.back() += c;
    return out;
}

struct ProgramResult {
    int exit_code = -1;  // -1 when it did not exit normally
    std::string out, err;
};

// Runs `argv` in `folder` in the background; on a `terminal` its standard error is a
// pseudo-terminal (read into `err`) and its standard output is discarded.
class Program {
  public:
    Program(std::vector<std::string> argv, const std::filesystem::path& folder,
            bool terminal = false)
        : terminal_(terminal),
          pid_(terminal ? ::forkpty(&tty_, nullptr, nullptr, nullptr) : ::fork()) {
        waited_ = pid_ < 0;  // no program to signal or wait for
        if (pid_ != 0) return;
        std::vector<char*> args(argv.size() + 1);  // null-terminated
        std::ranges::transform(argv, args.begin(), [](std::string& s) { return s.data(); });
        if (std::freopen(terminal ? "/dev/null" : (capture_ / "out").c_str(), "w", stdout) &&
            (terminal || std::freopen((capture_ / "err").c_str(), "w", stderr)) &&
            ::chdir(folder.c_str()) == 0)
            ::execv(args[0], args.data());
        ::_exit(127);
    }
    ~Program() {
        if (!waited_) ::kill(pid_, SIGKILL), ::waitpid(pid_, nullptr, 0);
        if (terminal_ && pid_ > 0) ::close(tty_);
    }
    bool running() { return !waited_ && !(waited_ = ::waitpid(pid_, &status_, WNOHANG) == pid_); }
    void send(int sig) {
        if (!waited_) ::kill(pid_, sig);
    }
    ProgramResult wait() {
        ProgramResult r;
        char buffer[4096];  // reads from the terminal fail (EIO) once the program has ended
        for (ssize_t n; terminal_ && pid_ > 0 && (n = ::read(tty_, buffer, sizeof buffer)) > 0;)
            r.err.append(buffer, static_cast<std::size_t>(n));
        if (!std::exchange(waited_, true)) ::waitpid(pid_, &status_, 0);
        if (WIFEXITED(status_)) r.exit_code = WEXITSTATUS(status_);
        if (!terminal_) {
            const auto out = read_file(capture_ / "out"), err = read_file(capture_ / "err");
            r.out.assign(out.begin(), out.end());
            r.err.assign(err.begin(), err.end());
        }
        return r;
    }

  private:
    ScratchDir capture_;
    int status_ = -1, tty_ = -1;
    bool terminal_, waited_ = false;
    pid_t pid_;
};

inline ProgramResult run_cli(std::vector<std::string> args, const std::filesystem::path& folder,
                             bool terminal = false) {
    args.insert(args.begin(), cli_program);
    return Program(args, folder, terminal).wait();
}

// A palette configuration whose MSX1 table is the MSX2 one.
inline std::string msx2_only_config() {
    std::string table;
    for (int v : DefaultPalettes{}.msx2)
        table += std::to_string(v) + " ";
    return "* MSX1 palette\n" + table + "\n* MSX2 palette\n" + table + "\n";
}

}  // namespace lumaweave::test
