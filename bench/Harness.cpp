// What every benchmark needs: sandbox installations, timing, medians and forked runs.
#include "Harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace p2bench {
namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

void Copy(const std::string& from, const std::string& to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
}

}  // namespace

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

void MakeDirs(const std::string& path) {
    fs::create_directories(path);
}

void RemoveTree(const std::string& path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

void WriteFile(const std::string& path, const std::string& bytes, int64_t mtime) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        Fail("create " + path);
    }
    if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        Fail("write " + path);
    }
    const timespec times[2] = {{static_cast<time_t>(mtime), 0}, {static_cast<time_t>(mtime), 0}};
    if (futimens(fd, times) != 0) {
        Fail("futimens " + path);
    }
    close(fd);
}

std::string ReadFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return "<missing>";
    }
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return text;
}

int64_t ModificationTime(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_mtime) : -1;
}

std::vector<std::string> ListNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        return names;
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    closedir(dir);
    return names;
}

void SyncFileSystem(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        syncfs(fd);
        close(fd);
    }
}

void MakeStampedDatabase(const std::string& path, const std::string& stamp) {
    sqlite3* db = nullptr;
    const std::string sql =
        "CREATE TABLE T00_製品情報 (InfoKey TEXT, InfoValue TEXT);"
        "INSERT INTO T00_製品情報 VALUES ('Version', '" +
        stamp + "');";
    const bool made = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                      sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    if (!made) {
        throw std::runtime_error("cannot make the database " + path);
    }
}

Install::Install(const std::string& binDir) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/p2bench.XXXXXX";
    if (!mkdtemp(pattern.data())) {
        Fail("mkdtemp");
    }
    root_ = pattern;
    for (const std::string& dir :
         {Program(), System() + "/UPDATE", Lan() + "/UPDATE", root_ + "/xdg/pelorin2",
          root_ + "/xdg/autostart", root_ + "/home/.config/autostart", root_ + "/run",
          root_ + "/Office"}) {
        MakeDirs(dir);
    }
    fs::permissions(root_ + "/run", fs::perms::owner_all);
    Copy(binDir + "/Pelorin2", Launcher());
    Copy(binDir + "/Pelorin2.wgf", Workgroup());
    Copy(binDir + "/MSACCESS.EXE", AccessExe());
    MakeStampedDatabase(Target(), "AB100");
    WriteFile(root_ + "/xdg/pelorin2/registry.reg",
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet]\r\n\r\n"
              "[HKEY_CLASSES_ROOT\\Access.Application.10\\shell\\open\\command]\r\n"
              "@=\"\\\"" +
                  AccessExe() + "\\\" /NOSTARTUP \\\"%1\\\"\"\r\n",
              1'600'000'000);
}

Install::~Install() {
    RemoveTree(root_);
}

std::vector<std::string> Install::Environment() const {
    return {"PATH=/usr/bin:/bin", "XDG_CONFIG_DIRS=" + root_ + "/xdg",
            "XDG_CONFIG_HOME=" + root_ + "/home/.config", "HOME=" + root_ + "/home",
            "XDG_RUNTIME_DIR=" + root_ + "/run"};
}

void Install::ResetFolders() const {
    for (const std::string& folder : {System(), Lan()}) {
        RemoveTree(folder);
        MakeDirs(folder + "/UPDATE");
    }
}

void BecomeSubreaper() {
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
        Fail("PR_SET_CHILD_SUBREAPER");
    }
}

Run RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               const std::string& errLog) {
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : env) {
        envp.push_back(const_cast<char*>(e.c_str()));
    }
    envp.push_back(nullptr);
    const int devnull = open("/dev/null", O_RDWR | O_CLOEXEC);
    const int err = open(errLog.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (devnull < 0 || err < 0) {
        Fail("open " + errLog);
    }

    Run run;
    const double start = NowMs();
    const pid_t pid = fork();
    if (pid < 0) {
        Fail("fork");
    }
    if (pid == 0) {
        dup2(devnull, 0);
        dup2(devnull, 1);
        dup2(err, 2);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    for (;;) {
        int status = 0;
        rusage usage{};
        const pid_t done = wait4(-1, &status, 0, &usage);
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;  // ECHILD: everything it started has ended too
        }
        if (done == pid) {
            run.exitMs = NowMs() - start;
            run.status = status;
            run.maxRssKiB = usage.ru_maxrss;
        }
    }
    run.allMs = NowMs() - start;
    close(devnull);
    close(err);
    return run;
}

double InFreshProcess(double (*body)(void*), void* context) {
    int fds[2];
    if (pipe(fds) != 0) {
        Fail("pipe");
    }
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        Fail("fork");
    }
    if (pid == 0) {
        close(fds[0]);
        double ms = -1;
        try {
            ms = body(context);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "p2bench: %s\n", e.what());
        }
        const ssize_t put = write(fds[1], &ms, sizeof ms);
        _exit(put == sizeof ms && ms >= 0 ? 0 : 1);
    }
    close(fds[1]);
    double ms = -1;
    const ssize_t got = read(fds[0], &ms, sizeof ms);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (got != sizeof ms || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("a measured run failed");
    }
    return ms;
}

}  // namespace p2bench
