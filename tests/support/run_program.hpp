// Running a program from a test: in a given folder, with its output captured, either to its end
// or in the background (so a test can signal it), optionally with its error output on a
// pseudo-terminal.
#pragma once

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace lumaweave::test {

struct ProgramResult {
    int exit_code = -1;    // -1 when it did not exit normally
    int signal = 0;        // the signal that ended it, if any
    std::string out, err;  // standard output and standard error
};

class Program {
  public:
    // Starts `program` with `args` in `folder`; stdout and stderr go to files in `capture`.
    Program(const std::string& program, const std::vector<std::string>& args,
            const std::filesystem::path& folder, const std::filesystem::path& capture)
        : out_path_(capture / "stdout.txt"), err_path_(capture / "stderr.txt") {
        std::vector<std::string> argv_strings{program};
        argv_strings.insert(argv_strings.end(), args.begin(), args.end());
        pid_ = ::fork();
        if (pid_ == 0) {
            std::vector<char*> argv;
            for (std::string& s : argv_strings)
                argv.push_back(s.data());
            argv.push_back(nullptr);
            const int out = ::open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int in = ::open("/dev/null", O_RDONLY);
            if (out < 0 || err < 0 || in < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 ||
                ::dup2(in, 0) < 0 || ::chdir(folder.c_str()) != 0) {
                ::_exit(127);
            }
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
    }
    ~Program() {
        if (pid_ > 0 && !waited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool started() const { return pid_ > 0; }
    bool running() {
        if (waited_) return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            waited_ = true;
            status_ = status;
        }
        return !waited_;
    }
    void send(int sig) { ::kill(pid_, sig); }

    ProgramResult wait() {
        if (!waited_) {
            ::waitpid(pid_, &status_, 0);
            waited_ = true;
        }
        ProgramResult r;
        if (WIFEXITED(status_)) r.exit_code = WEXITSTATUS(status_);
        if (WIFSIGNALED(status_)) r.signal = WTERMSIG(status_);
        r.out = slurp(out_path_);
        r.err = slurp(err_path_);
        return r;
    }

  private:
    static std::string slurp(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::filesystem::path out_path_, err_path_;
    pid_t pid_ = -1;
    bool waited_ = false;
    int status_ = 0;
};

// Runs the program to its end with standard error on a pseudo-terminal (as in an interactive
// shell); returns what it wrote there. Standard output goes to /dev/null.
inline ProgramResult run_on_terminal(const std::string& program,
                                     const std::vector<std::string>& args,
                                     const std::filesystem::path& folder) {
    ProgramResult r;
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) return r;
    if (pid == 0) {
        std::vector<std::string> strings{program};
        strings.insert(strings.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& s : strings)
            argv.push_back(s.data());
        argv.push_back(nullptr);
        const int null = ::open("/dev/null", O_WRONLY);
        if (null < 0 || ::dup2(null, 1) < 0 || ::chdir(folder.c_str()) != 0) ::_exit(127);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    char buffer[4096];
    while (true) {
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n > 0) {
            r.err.append(buffer, static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // EIO once the program has ended and closed the terminal
        }
    }
    ::close(master);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
    return r;
}

}  // namespace lumaweave::test
