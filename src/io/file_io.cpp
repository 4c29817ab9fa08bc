#include "io/file_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace lumaweave {

namespace {

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_;
};

bool write_all(int fd, const std::uint8_t* bytes, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, bytes, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

FileContents read_whole_file(ScratchPool& pool, const std::string& path, std::size_t extra) {
    FileContents out;
    auto fail = [&](Status status, int error) {
        out.outcome = failure(status, path, error != 0 ? std::strerror(error) : "");
        return out;
    };
    // Non-blocking, so that a named pipe given as a picture cannot hang the program.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        const int error = errno;
        return fail(error == ENOENT ? Status::file_not_found : Status::file_cannot_open, error);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return fail(Status::file_cannot_open, errno);
    if (!S_ISREG(st.st_mode)) {
        return fail(Status::file_cannot_open, S_ISDIR(st.st_mode) ? EISDIR : 0);
    }
    const auto length = static_cast<std::size_t>(st.st_size);
    if (length > SIZE_MAX - extra) return fail(Status::memory_error, 0);
    std::uint8_t* buffer = pool.alloc(length + extra);
    if (buffer == nullptr) return fail(Status::memory_error, ENOMEM);
    std::size_t got = 0;
    int read_failure = 0;
    while (got < length) {
        ssize_t n = ::read(fd.get(), buffer + got, length - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) read_failure = errno;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got < length) fail(Status::read_error, read_failure);
    std::memset(buffer + length, 0, extra);
    out.data = buffer;
    out.length = length;
    return out;
}

Outcome write_whole_file(const std::string& path, std::span<const std::uint8_t> data) {
    auto fail = [&](int error) {
        return failure(Status::could_not_create, path, error != 0 ? std::strerror(error) : "");
    };
    // Write where the name leads: through a symbolic link to its target, as a plain open would.
    std::string target = path;
    struct stat st {};
    mode_t mode = 0666;
    bool existed = false;
    if (::lstat(path.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            char* resolved = ::realpath(path.c_str(), nullptr);
            if (resolved != nullptr) {
                target = resolved;
                std::free(resolved);
            }
        }
        if (::stat(target.c_str(), &st) == 0) {
            if (!S_ISREG(st.st_mode)) return fail(S_ISDIR(st.st_mode) ? EISDIR : 0);
            // A read-only target refuses, as it would refuse being opened for writing.
            Fd probe(::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK));
            if (probe.get() < 0) return fail(errno);
            mode = st.st_mode & 07777;
            existed = true;
        }
    }

    // Created with O_EXCL and mode 0666 so that the umask applies as it would to a new file.
    static std::atomic<unsigned> serial{0};
    std::string temp;
    int raw = -1;
    for (int attempt = 0; attempt < 100 && raw < 0; ++attempt) {
        temp = target + ".lwtmp-" + std::to_string(::getpid()) + "-" +
               std::to_string(serial.fetch_add(1));
        raw = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (raw < 0 && errno != EEXIST) break;
    }
    if (raw < 0) return fail(errno);
    Fd fd(raw);
    int error = 0;
    auto step = [&](bool done) {
        if (!done && error == 0) error = errno != 0 ? errno : EIO;
        return done;
    };
    bool ok = step(write_all(fd.get(), data.data(), data.size()));
    if (ok && existed) ok = step(::fchmod(fd.get(), mode) == 0);
    ok = step(::close(fd.release()) == 0) && ok;
    if (ok) ok = step(::rename(temp.c_str(), target.c_str()) == 0);
    if (!ok) {
        ::unlink(temp.c_str());
        return fail(error);
    }
    return {};
}

}  // namespace lumaweave
