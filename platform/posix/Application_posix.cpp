// The application port on Linux: title, previous-instance lock, program folder, argument text,
// message boxes.
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/Error.h"
#include "platform/posix/CommandLine_posix.h"
#include "platform/posix/Environment_posix.h"
#include "platform/posix/Ports_posix.h"

extern char** environ;

namespace p2::posix {
namespace {

// zenity's exit status when it could not show the dialog at all (no display, bad option).
constexpr int kZenityFailed = 255;

bool IsDirectory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The lock file lives where only this user (or the system) can create it, so that nobody
// else can hold it; /tmp is the last resort for systems without a runtime folder.
std::string InstanceLockPath() {
    const std::string runtime = Env("XDG_RUNTIME_DIR");
    if (!runtime.empty() && runtime[0] == '/' && IsDirectory(runtime)) {
        return runtime + "/pelorin2.lock";
    }
    const std::string user = std::to_string(ActingUser());
    const std::string runUser = "/run/user/" + user;
    if (IsDirectory(runUser)) {
        return runUser + "/pelorin2.lock";
    }
    return "/tmp/pelorin2-" + user + ".lock";
}

// The text as a box shows it: the line breaks of the core are CR LF.
std::string WithLineFeeds(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

std::string FindOnPath(const std::string& program) {
    const std::string path = Env("PATH");
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        // Only absolute entries: an elevated program must not run a zenity from the current
        // folder.
        const std::string folder = path.substr(start, end - start);
        const std::string candidate = folder + "/" + program;
        struct stat info {};
        if (!folder.empty() && folder[0] == '/' && stat(candidate.c_str(), &info) == 0 &&
            S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return {};
}

// True when the dialog was shown and dismissed; false when zenity could not show it.
bool ShowWithZenity(const std::string& zenity, const std::string& title, const std::string& text,
                    MessageStyle style) {
    std::vector<std::string> args = {
        "zenity",
        style == kStyleCritical ? "--error" : "--warning",
        "--title=" + title,
        "--no-markup",
        "--text=" + WithLineFeeds(text),
    };
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    // Toolkit warnings of the dialog must not reach our standard streams.
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        return false;
    }
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int started =
        posix_spawn(&child, zenity.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) {
        return false;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return true;
        }
    }
    return !(WIFEXITED(status) && WEXITSTATUS(status) == kZenityFailed);
}

void WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;  // nobody to tell: the box is the only report
        }
        done += static_cast<size_t>(n);
    }
}

}  // namespace

PosixApplication::PosixApplication(std::vector<std::string> arguments)
    : arguments_(std::move(arguments)) {}

PosixApplication::~PosixApplication() {
    if (instanceLock_ >= 0) {
        close(instanceLock_);
    }
}

void PosixApplication::SetTitle(const std::string& title) {
    title_ = title;
}

bool PosixApplication::PrevInstance() {
    if (instanceLock_ >= 0) {
        return false;  // the lock is ours already
    }
    // The lock lives as long as the open file: the kernel drops it when a crashed instance's
    // descriptors close, so a dead instance never blocks. Read-only and 0644 so that an
    // elevated instance and a plain one of the same user see each other's lock.
    const std::string path = InstanceLockPath();
    const int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    const bool trusted =
        fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        (info.st_uid == ActingUser() || info.st_uid == geteuid() || info.st_uid == 0);
    if (!trusted) {
        close(fd);  // someone else's file must not be able to stop us
        return false;
    }
    int locked = -1;
    do {
        locked = flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        const bool held = errno == EWOULDBLOCK;
        close(fd);
        return held;
    }
    instanceLock_ = fd;
    return false;
}

// Asked before every database open of the update pass: the link is read once.
std::string PosixApplication::ProgramFolder() {
    if (!programFolder_.empty()) {
        return programFolder_;
    }
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) {
            throw AppError(kErrPathNotFound);
        }
        if (static_cast<size_t>(n) < buffer.size()) {
            const std::string executable(buffer.data(), static_cast<size_t>(n));
            const size_t slash = executable.rfind('/');
            if (slash == std::string::npos) {
                throw AppError(kErrPathNotFound);
            }
            programFolder_ = executable.substr(0, slash);
            return programFolder_;
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string PosixApplication::ArgumentText() {
    return JoinArguments(arguments_);
}

void PosixApplication::MessageBox(const std::string& text, MessageStyle style) {
    if (!Env("DISPLAY").empty() || !Env("WAYLAND_DISPLAY").empty()) {
        const std::string zenity = FindOnPath("zenity");
        if (!zenity.empty() && ShowWithZenity(zenity, title_, text, style)) {
            return;
        }
    }
    const char* icon = style == kStyleCritical ? " [stop]\n" : " [exclamation]\n";
    WriteAll(STDERR_FILENO, title_ + icon + WithLineFeeds(text) + "\n");
}

}  // namespace p2::posix
