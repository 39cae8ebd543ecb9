// Starting the sandbox's launcher the ways the stress tests need: held at a gate until
// released, and killed at a chosen moment or at the n-th change it makes in the installation.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "Sandbox.h"

namespace p2::stress {

struct Outcome {
    bool killed = false;  // ended by our SIGKILL, not by itself
    int exitCode = -1;    // when it ended by itself
    std::string output;   // standard output and error together
};

// Both ends of a pipe; children wait at the read end until the write end closes.
class Gate {
  public:
    Gate();
    ~Gate();
    void Open();  // releases every child waiting at it
    int readEnd() const { return fds_[0]; }
    int writeEnd() const { return fds_[1]; }

  private:
    int fds_[2] = {-1, -1};
};

class Launcher {
  public:
    // `tag` tells apart the output and Access record files of launchers run side by side.
    Launcher(const e2e::Sandbox& sandbox, const std::string& scratch, const std::string& tag);

    pid_t Start(const Gate* gate = nullptr);
    // Waits (bounded) for the end of a started launcher.
    Outcome Wait(pid_t pid);
    // Kills it once `delay` has passed since the start, unless it has ended before.
    Outcome KillAfter(pid_t pid, std::chrono::microseconds delay);

    Outcome Run() { return Wait(Start()); }
    // The outcome of a launcher already reaped with `status`.
    Outcome Collect(int status) const;
    // Whether the Access stand-in was started by this launcher (waits a bounded time for
    // its record when `expected`).
    bool AccessStarted(bool expected) const;
    void ForgetAccess() const;

  private:
    std::vector<std::string> env_;
    std::string program_;
    std::string outputFile_;
    std::string recordFile_;
};

// Counts the changes made below the watched folders (opens, creations, writes, renames and
// deletions) and kills the launcher at the n-th one, or when a file of a given name is created.
class ChangeWatch {
  public:
    explicit ChangeWatch(const std::vector<std::string>& folders, bool movesOnly = false);
    ~ChangeWatch();
    ChangeWatch(const ChangeWatch&) = delete;
    ChangeWatch& operator=(const ChangeWatch&) = delete;

    // Counts every change until the launcher ends by itself.
    int CountUntilEnd(Launcher& launcher, pid_t pid, Outcome& outcome);
    // Kills at the n-th change (counting from 1), or at the creation of `name` when it is
    // not empty.
    Outcome KillAt(Launcher& launcher, pid_t pid, int nth, const std::string& name = {});

    // Forgets the changes seen so far: call before the start.
    void Drain();
    // Takes in the changes that have come meanwhile.
    void Collect();
    // How often each name was moved into a watched folder since the last Drain, by
    // "<watch>:<name>".
    const std::map<std::string, int>& MovesInto() const { return moves_; }

  private:
    // Reads what is there within `timeout`; counts changes, sets `seen` for `name`.
    int Read(int timeoutMs, const std::string& name, bool& seen);
    int fd_ = -1;
    std::map<std::string, int> moves_;
};

}  // namespace p2::stress
