// Helpers of the port tests: temporary folders, files, lock holders and forked children.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>

namespace p2::posix::files_test {

class TempDir {
  public:
    TempDir() {
        std::string pattern = "/tmp/p2-ports-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            throw std::runtime_error("mkdtemp");
        }
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string ReadAll(int fd) {
    std::string bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return bytes;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
}

// What a forked child reported: the text its function returned, what it wrote to standard
// error, and its exit status (0 when it ran to the end).
struct ChildResult {
    std::string value;
    std::string stderrBytes;
    int status = -1;
};

// Runs `body` in a forked child, so that it may change the environment and its standard
// streams freely.
inline ChildResult RunInChild(const std::function<std::string()>& body) {
    int valuePipe[2];
    int errPipe[2];
    if (pipe2(valuePipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    const pid_t child = fork();
    if (child == 0) {
        dup2(errPipe[1], STDERR_FILENO);
        std::string value;
        try {
            value = body();
        } catch (...) {
            _exit(3);
        }
        size_t done = 0;
        while (done < value.size()) {
            const ssize_t n = write(valuePipe[1], value.data() + done, value.size() - done);
            if (n <= 0) {
                _exit(4);
            }
            done += static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(valuePipe[1]);
    close(errPipe[1]);
    ChildResult result;
    // The child may fill either pipe; stderr is small in these tests, so read the value first.
    result.value = ReadAll(valuePipe[0]);
    result.stderrBytes = ReadAll(errPipe[0]);
    close(valuePipe[0]);
    close(errPipe[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

// The last two hold no lock: the file open for writing (a copier), or for reading only.
enum class LockKind { kFlock, kOfdWrite, kClassicRead, kWriting, kReading };

// A forked child that holds a lock on a file (or has it open) until the holder is destroyed.
class LockHolder {
  public:
    LockHolder(const std::string& path, LockKind kind) {
        int ready[2];
        int release[2];
        if (pipe2(ready, O_CLOEXEC) != 0 || pipe2(release, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe");
        }
        child_ = fork();
        if (child_ == 0) {
            close(ready[0]);
            close(release[1]);
            const int fd = open(path.c_str(), kind == LockKind::kOfdWrite  ? O_RDWR
                                              : kind == LockKind::kWriting ? O_WRONLY | O_APPEND
                                                                           : O_RDONLY);
            bool locked = fd >= 0;
            if (kind == LockKind::kWriting || kind == LockKind::kReading) {
                // held open only
            } else if (locked && kind == LockKind::kFlock) {
                locked = flock(fd, LOCK_EX) == 0;
            } else if (locked) {
                struct flock lock {};
                lock.l_type = kind == LockKind::kOfdWrite ? F_WRLCK : F_RDLCK;
                lock.l_whence = SEEK_SET;
                lock.l_start = 0;
                lock.l_len = 0;
                locked = fcntl(fd, kind == LockKind::kOfdWrite ? F_OFD_SETLK : F_SETLK, &lock) == 0;
            }
            const char answer = locked ? 'y' : 'n';
            if (write(ready[1], &answer, 1) != 1) {
                _exit(1);
            }
            char ignored;
            while (read(release[0], &ignored, 1) < 0 && errno == EINTR) {
            }
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        release_ = release[1];
        char answer = 'n';
        locked_ = read(ready[0], &answer, 1) == 1 && answer == 'y';
        close(ready[0]);
    }
    ~LockHolder() {
        close(release_);
        int status = 0;
        while (waitpid(child_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    bool locked() const { return locked_; }

  private:
    pid_t child_ = -1;
    int release_ = -1;
    bool locked_ = false;
};

}  // namespace p2::posix::files_test
