// A sandbox installation for the built launcher: program folder beside SYSTEM and LAN, its
// own registry file, start-up folders, runtime folder and the recording Access stand-in.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace p2::e2e {

// Runs SQL on an open database; a failure raises std::runtime_error with SQLite's message.
void ExecSql(sqlite3* db, const std::string& sql);

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Options for one run of the launcher.
struct RunOptions {
    std::optional<uid_t> asUser;  // drop to this uid/gid before the launch
    std::map<std::string, std::string> extraEnv;
    bool wait = true;  // false: started in the background, see Sandbox::Wait
};

class Sandbox {
  public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::string& Root() const { return root_; }
    std::string Program() const { return root_ + "/Prog"; }
    std::string System() const { return root_ + "/SYSTEM"; }
    std::string Lan() const { return root_ + "/LAN"; }
    std::string AllUsersStartup() const { return root_ + "/xdg/autostart"; }
    std::string UserStartup() const { return root_ + "/home/.config/autostart"; }
    std::string RegistryFile() const { return root_ + "/xdg/pelorin2/registry.reg"; }
    std::string AccessExe() const { return root_ + "/Office/MSACCESS.EXE"; }
    std::string RecordFile() const { return root_ + "/access-record.txt"; }

    // The registry: the probe key and Access's open command.
    void WriteRegistry(const std::string& accessCommand);
    void WriteRegistryText(const std::string& text);

    static void WriteFile(const std::string& path, const std::string& bytes);
    static std::string ReadFile(const std::string& path);
    static bool Exists(const std::string& path);
    static void SetTime(const std::string& path, int64_t seconds);
    // A database with a version stamp, and optionally the option table with one password.
    static void MakeDatabase(const std::string& path, const std::string& stamp,
                             const std::optional<std::string>& password = std::nullopt);
    static std::optional<std::string> PasswordOf(const std::string& path);
    static std::vector<std::string> Names(const std::string& folder);

    RunResult Run(const std::vector<std::string>& args, const RunOptions& options = {});
    // Background runs: start, then wait for the exit.
    pid_t Start(const std::vector<std::string>& args, const RunOptions& options = {});
    RunResult Wait(pid_t pid);

    // The arguments the Access stand-in received, once it has written them; empty when it
    // was not started (the launcher has ended by then, so a start would already be under way).
    std::vector<std::string> AccessArguments(bool expectStarted);

  private:
    std::map<std::string, std::string> Environment(const RunOptions& options) const;
    std::string root_;
    std::map<pid_t, std::pair<int, int>> pending_;  // pid -> stdout, stderr pipes
};

}  // namespace p2::e2e
