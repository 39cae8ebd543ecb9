// The built launcher with what users and administrators bring from elsewhere: WAL-mode
// databases, registry files exported on Windows, and callers that read its messages.
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <string>
#include <thread>

#include "Sandbox.h"
#include "platform/posix/FileLock_posix.h"

namespace p2::e2e {
namespace {

class ForeignSetup : public ::testing::Test {
  protected:
    ForeignSetup() { Sandbox::MakeDatabase(sb.Program() + "/main.mdb", "1"); }
    void ExpectAccessStarted(const RunResult& r) {
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(sb.AccessArguments(true).size(), 8u);
    }
    Sandbox sb;
};

// Ends the Access stand-in that a test left running.
void KillAccess(const std::string& exe) {
    DIR* proc = opendir("/proc");
    while (const dirent* entry = proc ? readdir(proc) : nullptr) {
        char target[PATH_MAX] = {};
        const std::string link = std::string("/proc/") + entry->d_name + "/exe";
        if (readlink(link.c_str(), target, sizeof target - 1) > 0 && exe == target) {
            kill(atoi(entry->d_name), SIGKILL);
        }
    }
    if (proc) {
        closedir(proc);
    }
}

// msg=$(Pelorin2 main.mdb 2>&1) returns while Access runs, and holds the launcher's words
// alone.
TEST_F(ForeignSetup, AccessRunsDetachedFromTheLaunchersStreams) {
    const RunResult r = sb.Run({"main.mdb"}, RunOptions{{}, {{"P2_ACCESS_HOLD", "600"}}});
    EXPECT_EQ(r.out, "");
    ExpectAccessStarted(r);
    bool held = false;
    for (int i = 0; i < 500 && !held; ++i) {
        held = posix::LockedByAnotherProcess(sb.Program() + "/main.ldb");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(held) << "Access was not running any more";
    KillAccess(sb.AccessExe());
}

std::string Utf16(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (const char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

// Registry files as Windows writes them: the machine's classes, UTF-16 with CR LF.
TEST_F(ForeignSetup, RegistryExportedOnWindowsNamesAccess) {
    const std::string command = "@=\"\\\"" + sb.AccessExe() + "\\\" /NOSTARTUP \\\"%1\\\"\"\r\n";
    const std::string machineClasses =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet]\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Access.Application.10\\shell\\open\\command]"
        "\r\n" +
        command + "\r\n";
    for (const std::string& text : {machineClasses, Utf16(machineClasses)}) {
        sb.WriteRegistryText(text);
        unlink(sb.RecordFile().c_str());
        ExpectAccessStarted(sb.Run({"main.mdb"}));
    }
}

}  // namespace
}  // namespace p2::e2e
