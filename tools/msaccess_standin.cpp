// MSACCESS.EXE on Linux: takes the launch command line, logs on with the workgroup file and
// opens the target database through the engine, as Access would before showing it.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Error.h"
#include "platform/posix/SqliteEngine_posix.h"
#include "platform/posix/SqliteFile_posix.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 2;
constexpr long kLongestHold = 3600;

void Record(const std::vector<std::string>& args) {
    const char* file = std::getenv("P2_ACCESS_RECORD");
    if (!file || !*file) {
        return;
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    for (const std::string& arg : args) {
        out << arg << '\n';
    }
}

bool IsSwitch(const std::string& arg, const char* name) {
    return p2::posix::FoldCase(arg) == p2::posix::FoldCase(name);
}

// "<target without extension>.ldb", as Access names the lock file beside a database.
std::string LockFileOf(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    const std::size_t dot = target.rfind('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? target.substr(0, dot) : target) + ".ldb";
}

// Holds the lock file the way a running Access holds it: an open-file write lock that the
// launcher's deletion check meets.
void HoldLockFile(const std::string& target, long seconds) {
    const std::string ldb = LockFileOf(target);
    const int fd = open(ldb.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::cout << "cannot create " << ldb << std::endl;
        return;
    }
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        std::cout << "cannot lock " << ldb << std::endl;
        close(fd);
        return;
    }
    std::cout << "holding " << ldb << std::endl;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    unlink(ldb.c_str());
    close(fd);
}

long HoldSeconds() {
    const char* text = std::getenv("P2_ACCESS_HOLD");
    if (!text || !*text) {
        return 0;
    }
    char* end = nullptr;
    const long seconds = std::strtol(text, &end, 10);
    if (*end != '\0' || seconds <= 0) {
        return 0;
    }
    return seconds < kLongestHold ? seconds : kLongestHold;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    Record(args);
    const bool launchLine = args.size() == 8 && IsSwitch(args[0], "/Runtime") &&
                            IsSwitch(args[2], "/Wrkgrp") && IsSwitch(args[4], "/User") &&
                            IsSwitch(args[6], "/Pwd");
    if (!launchLine) {
        std::cout << "MSACCESS.EXE stand-in: unexpected command line (" << args.size()
                  << " arguments)" << std::endl;
        return kExitFailure;
    }
    const std::string& target = args[1];
    std::cout << "MSACCESS.EXE stand-in\n"
              << "runtime: " << target << '\n'
              << "workgroup: " << args[3] << '\n'
              << "user: " << std::string(args[5].size(), '*') << '\n'
              << "password: ********" << std::endl;

    p2::posix::SqliteDatabaseService service;
    std::unique_ptr<p2::Database> database;
    try {
        p2::DBEngine& engine = service.Engine();
        engine.SetSystemDB(args[3]);
        engine.SetDefaultUser(args[5]);
        engine.SetDefaultPassword(args[7]);
        database = engine.OpenDatabase(target);
    } catch (const p2::AppError& e) {
        std::cout << "error " << e.number() << std::endl;
        return kExitFailure;
    }
    std::cout << "opened " << target << std::endl;
    if (const long seconds = HoldSeconds(); seconds > 0) {
        HoldLockFile(target, seconds);
    }
    database->Close();
    return kExitOk;
}
