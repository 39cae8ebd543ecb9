// Starting launchers for the stress tests: killed at a chosen point, or released together.
#include "Launch.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <stdexcept>
#include <thread>

#include "Delivery.h"

namespace p2::stress {
namespace {

using Clock = std::chrono::steady_clock;
// Bounds every wait: a launcher that has not ended by then hangs, which is a fault itself.
constexpr auto kLongestRun = std::chrono::seconds(120);

constexpr uint32_t kChanges =
    IN_OPEN | IN_CREATE | IN_MODIFY | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE;

Outcome Reaped(int status) {
    Outcome outcome;
    outcome.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

// The status once the process has ended, or nothing yet.
bool TryReap(pid_t pid, int& status) {
    for (;;) {
        const pid_t got = waitpid(pid, &status, WNOHANG);
        if (got == pid) {
            return true;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw std::runtime_error("waitpid");
        }
        return false;
    }
}

}  // namespace

Gate::Gate() {
    if (pipe2(fds_, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
}

Gate::~Gate() {
    Open();
    close(fds_[0]);
}

void Gate::Open() {
    if (fds_[1] >= 0) {
        close(fds_[1]);
        fds_[1] = -1;
    }
}

Launcher::Launcher(const e2e::Sandbox& sandbox, const std::string& scratch, const std::string& tag)
    : program_(sandbox.Program() + "/Pelorin2"),
      outputFile_(scratch + "/stderr-" + tag),
      recordFile_(scratch + "/access-" + tag) {
    const std::string root = sandbox.Root();
    env_ = {"PATH=/usr/bin:/bin",
            "XDG_CONFIG_DIRS=" + root + "/xdg",
            "XDG_CONFIG_HOME=" + root + "/home/.config",
            "HOME=" + root + "/home",
            "XDG_RUNTIME_DIR=" + root + "/run",
            "P2_ACCESS_RECORD=" + recordFile_};
}

pid_t Launcher::Start(const Gate* gate) {
    std::vector<char*> argv{program_.data(), const_cast<char*>("main.mdb"), nullptr};
    std::vector<char*> envp;
    for (std::string& e : env_) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    const int gateRead = gate ? gate->readEnd() : -1;
    const int gateWrite = gate ? gate->writeEnd() : -1;

    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork");
    }
    if (pid == 0) {
        // Only async-signal-safe calls from here on.
        const int in = open("/dev/null", O_RDONLY);
        const int out = open("/dev/null", O_WRONLY);
        const int err = open(outputFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
            dup2(err, 2) < 0) {
            _exit(125);
        }
        if (gateRead >= 0) {
            if (gateWrite >= 0) {
                close(gateWrite);
            }
            char byte = 0;
            while (read(gateRead, &byte, 1) < 0 && errno == EINTR) {
            }
        }
        execve(program_.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

Outcome Launcher::Wait(pid_t pid) {
    const auto deadline = Clock::now() + kLongestRun;
    int status = 0;
    while (!TryReap(pid, status)) {
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            Outcome hung;
            hung.output = "<the launcher hung>";
            return hung;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return Collect(status);
}

Outcome Launcher::Collect(int status) const {
    Outcome outcome = Reaped(status);
    bool exists = false;
    outcome.output = ReadAll(outputFile_, exists);
    return outcome;
}

Outcome Launcher::KillAfter(pid_t pid, std::chrono::microseconds delay) {
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(delay).count();
    timespec pause{static_cast<time_t>(nanos / 1'000'000'000),
                   static_cast<long>(nanos % 1'000'000'000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, &pause) == EINTR) {
    }
    kill(pid, SIGKILL);
    return Wait(pid);
}

bool Launcher::AccessStarted(bool expected) const {
    // Access is started detached: its record may come a little after the launcher's end.
    const auto limit =
        Clock::now() + (expected ? std::chrono::seconds(20) : std::chrono::seconds(0));
    bool exists = false;
    do {
        ReadAll(recordFile_, exists);
        if (exists) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (Clock::now() < limit);
    return false;
}

void Launcher::ForgetAccess() const {
    unlink(recordFile_.c_str());
}

ChangeWatch::ChangeWatch(const std::vector<std::string>& folders, bool movesOnly)
    : fd_(inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
    if (fd_ < 0) {
        throw std::runtime_error("inotify_init1");
    }
    for (const std::string& folder : folders) {
        if (inotify_add_watch(fd_, folder.c_str(), movesOnly ? IN_MOVED_TO : kChanges) < 0) {
            throw std::runtime_error("inotify_add_watch " + folder);
        }
    }
}

ChangeWatch::~ChangeWatch() {
    close(fd_);
}

void ChangeWatch::Drain() {
    Collect();
    moves_.clear();
}

void ChangeWatch::Collect() {
    bool seen = false;
    while (Read(0, {}, seen) > 0) {
    }
}

int ChangeWatch::Read(int timeoutMs, const std::string& name, bool& seen) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) {
        return 0;
    }
    alignas(inotify_event) char buffer[64 * 1024];
    const ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got <= 0) {
        return 0;
    }
    int changes = 0;
    for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        if (event->mask & IN_Q_OVERFLOW) {
            continue;
        }
        ++changes;
        if ((event->mask & IN_MOVED_TO) && event->len > 0) {
            ++moves_[std::to_string(event->wd) + ":" + event->name];
        }
        if (!name.empty() && (event->mask & IN_CREATE) && event->len > 0 && name == event->name) {
            seen = true;
        }
    }
    return changes;
}

int ChangeWatch::CountUntilEnd(Launcher& launcher, pid_t pid, Outcome& outcome) {
    int changes = 0;
    int status = 0;
    bool seen = false;
    const auto deadline = Clock::now() + kLongestRun;
    while (!TryReap(pid, status)) {
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            outcome = launcher.Wait(pid);
            outcome.output = "<the launcher hung>";
            return changes;
        }
        changes += Read(1, {}, seen);
    }
    outcome = launcher.Collect(status);
    while (const int more = Read(0, {}, seen)) {
        changes += more;
    }
    return changes;
}

Outcome ChangeWatch::KillAt(Launcher& launcher, pid_t pid, int nth, const std::string& name) {
    int changes = 0;
    int status = 0;
    bool seen = false;
    const auto deadline = Clock::now() + kLongestRun;
    for (;;) {
        changes += Read(1, name, seen);
        if ((name.empty() && changes >= nth) || seen) {
            kill(pid, SIGKILL);
            break;
        }
        if (TryReap(pid, status)) {
            Drain();
            return launcher.Collect(status);
        }
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            break;
        }
    }
    Outcome outcome = launcher.Wait(pid);
    Drain();
    return outcome;
}

}  // namespace p2::stress
