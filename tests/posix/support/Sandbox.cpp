// A sandbox installation for the built launcher, and the launcher run in it.
#include "Sandbox.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace p2::e2e {
namespace fs = std::filesystem;

namespace {

void Copy(const std::string& from, const std::string& to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
}

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c;
        if (c == '\'') {
            quoted += '\'';
        }
    }
    return quoted + "'";
}

}  // namespace

void ExecSql(sqlite3* db, const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message ? message : "?";
        sqlite3_free(message);
        throw std::runtime_error(text);
    }
}

Sandbox::Sandbox() {
    std::string pattern = (fs::temp_directory_path() / "p2sandbox.XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        throw std::runtime_error("mkdtemp");
    }
    root_ = pattern;
    // Reachable by the unprivileged user some tests run the launcher as.
    fs::permissions(root_, fs::perms::all);
    for (const std::string& dir :
         {Program(), System() + "/UPDATE", Lan() + "/UPDATE", AllUsersStartup(), UserStartup(),
          root_ + "/xdg/pelorin2", root_ + "/run", root_ + "/Office"}) {
        fs::create_directories(dir);
    }
    for (const auto& entry : fs::recursive_directory_iterator(root_)) {
        fs::permissions(entry.path(), fs::perms::all);
    }
    fs::permissions(root_ + "/run", fs::perms::owner_all);
    Copy(std::string(P2_BIN_DIR) + "/Pelorin2", Program() + "/Pelorin2");
    Copy(std::string(P2_BIN_DIR) + "/Pelorin2.wgf", Program() + "/Pelorin2.wgf");
    Copy(std::string(P2_BIN_DIR) + "/MSACCESS.EXE", AccessExe());
    WriteRegistry("\"" + AccessExe() + "\" /NOSTARTUP \"%1\"");
}

Sandbox::~Sandbox() {
    for (auto& [pid, pipes] : pending_) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        close(pipes.first);
        close(pipes.second);
    }
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

void Sandbox::WriteRegistry(const std::string& accessCommand) {
    std::string escaped;
    for (char c : accessCommand) {
        if (c == '\\' || c == '"') {
            escaped += '\\';
        }
        escaped += c;
    }
    WriteRegistryText(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet]\r\n\r\n"
        "[HKEY_CLASSES_ROOT\\Access.Application.10\\shell\\open\\command]\r\n"
        "@=\"" +
        escaped + "\"\r\n");
}

void Sandbox::WriteRegistryText(const std::string& text) {
    WriteFile(RegistryFile(), text);
    fs::permissions(RegistryFile(), fs::perms::owner_read | fs::perms::owner_write |
                                        fs::perms::group_read | fs::perms::others_read);
}

void Sandbox::WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Sandbox::ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return "<missing>";
    }
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Sandbox::Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

void Sandbox::SetTime(const std::string& path, int64_t seconds) {
    const timespec times[2] = {{static_cast<time_t>(seconds), 0},
                               {static_cast<time_t>(seconds), 0}};
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        throw std::runtime_error("utimensat " + path);
    }
}

void Sandbox::MakeDatabase(const std::string& path, const std::string& stamp,
                           const std::optional<std::string>& password) {
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("sqlite3_open " + path);
    }
    ExecSql(db,
            "CREATE TABLE T00_製品情報 (InfoKey TEXT, InfoValue TEXT);"
            "INSERT INTO T00_製品情報 VALUES ('Version', " +
                Quote(stamp) + ");");
    if (password) {
        ExecSql(db,
                "CREATE TABLE TZs_オプション設定 (id INTEGER PRIMARY KEY, pwd TEXT, other TEXT);"
                "INSERT INTO TZs_オプション設定 (pwd, other) VALUES (" +
                    Quote(*password) + ", " + Quote(stamp) + ");");
    }
    sqlite3_close(db);
}

std::optional<std::string> Sandbox::PasswordOf(const std::string& path) {
    sqlite3* db = nullptr;
    std::optional<std::string> password;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT pwd FROM TZs_オプション設定 ORDER BY rowid LIMIT 1", -1,
                               &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW &&
            sqlite3_column_type(statement, 0) != SQLITE_NULL) {
            password = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return password;
}

std::vector<std::string> Sandbox::Names(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::map<std::string, std::string> Sandbox::Environment(const RunOptions& options) const {
    std::map<std::string, std::string> env{
        {"PATH", "/usr/bin:/bin"},
        {"XDG_CONFIG_DIRS", root_ + "/xdg"},
        {"XDG_CONFIG_HOME", root_ + "/home/.config"},
        {"HOME", root_ + "/home"},
        {"XDG_RUNTIME_DIR", root_ + "/run"},
        {"P2_ACCESS_RECORD", RecordFile()},
    };
    for (const auto& [k, v] : options.extraEnv) {
        env[k] = v;
    }
    return env;
}

pid_t Sandbox::Start(const std::vector<std::string>& args, const RunOptions& options) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    std::vector<std::string> envText;
    for (const auto& [k, v] : Environment(options)) {
        envText.push_back(k + "=" + v);
    }
    const std::string program = Program() + "/Pelorin2";
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : envText) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        const int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        if (options.asUser) {
            const gid_t gid = static_cast<gid_t>(*options.asUser);
            if (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 ||
                setresuid(*options.asUser, *options.asUser, *options.asUser) != 0) {
                _exit(126);
            }
        }
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    pending_[pid] = {out[0], err[0]};
    return pid;
}

RunResult Sandbox::Wait(pid_t pid) {
    auto [out, err] = pending_.at(pid);
    pending_.erase(pid);
    RunResult result;
    // Both pipes are read together so that neither can fill up and stall the launcher.
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    std::string* texts[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, 60'000) <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP))) {
                char buffer[4096];
                const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
                if (n > 0) {
                    texts[i]->append(buffer, static_cast<std::size_t>(n));
                } else {
                    close(fds[i].fd);
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
    }
    for (auto& f : fds) {
        if (f.fd >= 0) {
            close(f.fd);
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

RunResult Sandbox::Run(const std::vector<std::string>& args, const RunOptions& options) {
    return Wait(Start(args, options));
}

std::vector<std::string> Sandbox::AccessArguments(bool expectStarted) {
    // Access is started detached and writes its record when it runs: give it time when it
    // is expected, and a short grace otherwise.
    const auto limit = std::chrono::milliseconds(expectStarted ? 20'000 : 300);
    const auto start = std::chrono::steady_clock::now();
    while (!Exists(RecordFile()) && std::chrono::steady_clock::now() - start < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::vector<std::string> lines;
    if (!Exists(RecordFile())) {
        return lines;
    }
    // The stand-in writes the whole record before it exits; wait for a complete last line.
    std::string text;
    for (int i = 0; i < 500; ++i) {
        text = ReadFile(RecordFile());
        if (!text.empty() && text.back() == '\n' &&
            std::count(text.begin(), text.end(), '\n') >= 8) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::size_t at = 0;
    while (at < text.size()) {
        const auto nl = text.find('\n', at);
        lines.push_back(text.substr(at, nl - at));
        at = nl == std::string::npos ? text.size() : nl + 1;
    }
    return lines;
}

}  // namespace p2::e2e
