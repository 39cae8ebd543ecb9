// Starting a program the way the Windows shell start does: one command line, split by the
// Windows rules, and a process that lives on without the launcher.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"
#include "platform/posix/CommandLine_posix.h"
#include "platform/posix/Errors_posix.h"
#include "platform/posix/Ports_posix.h"

namespace p2::posix {
namespace {

// What travels from the children back to the caller through the pipe.
struct Report {
    int32_t kind;   // kStarted or kFailed
    int32_t value;  // the started pid, or the errno of the failed step
};
constexpr int32_t kStarted = 1;
constexpr int32_t kFailed = 2;

void WriteReport(int fd, int32_t kind, int32_t value) {
    const Report report{kind, value};
    // Smaller than PIPE_BUF: written whole or not at all.
    while (write(fd, &report, sizeof report) < 0 && errno == EINTR) {
    }
}

// The standard streams on /dev/null, as a program started from a GUI program has them: the
// launcher's own streams carry its messages alone, and nobody waits for them to close.
// False with errno set when that fails. `reportFd` is kept clear of them.
bool StreamsToNull(int& reportFd) {
    if (reportFd <= STDERR_FILENO) {
        reportFd = fcntl(reportFd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        if (reportFd < 0) {
            return false;
        }
    }
    const int null = open("/dev/null", O_RDWR);  // kept across exec when it is one of them
    if (null < 0) {
        return false;
    }
    for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; ++stream) {
        if (dup2(null, stream) < 0) {
            return false;
        }
    }
    if (null > STDERR_FILENO) {
        close(null);
    }
    return true;
}

// Runs in the forked child: only calls that are safe after fork.
[[noreturn]] void StartDetached(int reportFd, const char* program, char* const* argv) {
    setsid();
    const pid_t grandchild = fork();
    if (grandchild < 0) {
        WriteReport(reportFd, kFailed, errno);
        _exit(1);
    }
    if (grandchild == 0) {
        // The program starts clean of the launcher's signal settings.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        if (!StreamsToNull(reportFd)) {
            WriteReport(reportFd, kFailed, errno);
            _exit(127);
        }
        execv(program, argv);
        WriteReport(reportFd, kFailed, errno);
        _exit(127);
    }
    WriteReport(reportFd, kStarted, static_cast<int32_t>(grandchild));
    _exit(0);
}

}  // namespace

// The window style has no counterpart here: the started program opens its windows itself.
int64_t PosixProcess::Shell(const std::string& commandLine, WindowStyle /*style*/) {
    std::vector<std::string> items = SplitCommandLine(commandLine);
    if (items.empty() || items[0].empty()) {
        throw AppError(kErrInvalidArgument);
    }
    const std::string& program = items[0];
    struct stat info {};
    if (stat(program.c_str(), &info) != 0) {
        throw AppError(ErrorNumberOfErrno(errno));
    }
    if (!S_ISREG(info.st_mode) || faccessat(AT_FDCWD, program.c_str(), X_OK, AT_EACCESS) != 0) {
        throw AppError(kErrPermissionDenied);
    }

    // Everything the children need is made before the fork.
    std::vector<char*> argv;
    argv.reserve(items.size() + 1);
    for (std::string& item : items) {
        argv.push_back(item.data());
    }
    argv.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        throw AppError(kErrPathFileAccess);
    }
    const pid_t middle = fork();
    if (middle < 0) {
        close(fds[0]);
        close(fds[1]);
        throw AppError(kErrPathFileAccess);
    }
    if (middle == 0) {
        close(fds[0]);
        StartDetached(fds[1], program.c_str(), argv.data());
    }
    close(fds[1]);
    // The middle child ends at once; reaping it leaves no zombie behind.
    int status = 0;
    while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }

    // Read until every writer is gone: the middle child on its exit, the grandchild on its
    // exec (the pipe closes on exec) or on its exit after a failed exec.
    int64_t started = 0;
    int failure = 0;
    Report report{};
    for (;;) {
        const ssize_t got = read(fds[0], &report, sizeof report);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got != static_cast<ssize_t>(sizeof report)) {
            break;
        }
        if (report.kind == kStarted) {
            started = report.value;
        } else if (report.kind == kFailed) {
            failure = report.value;
        }
    }
    close(fds[0]);
    if (failure != 0) {
        throw AppError(ErrorNumberOfErrno(failure));
    }
    if (started <= 0) {
        throw AppError(kErrPathFileAccess);
    }
    return started;
}

}  // namespace p2::posix
