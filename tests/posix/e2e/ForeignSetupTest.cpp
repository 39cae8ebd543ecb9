// The built launcher with what users and administrators bring from elsewhere: WAL-mode
// databases, registry files exported on Windows, and callers that read its messages.
#include <dirent.h>
#include <signal.h>
#include <sqlite3.h>
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

void Exec(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    sqlite3_close(db);
}

// A copy of a live WAL database, taken while its last change is still in its -wal: the
// stamp there is `stamp`, the one in the main file `stamp` less one.
void CopyOfLiveWalDatabase(const std::string& path, int stamp, const std::string& scratch) {
    const std::string live = scratch + "/live.mdb";
    Sandbox::MakeDatabase(live, std::to_string(stamp - 1), "shipped");
    Exec(live, "PRAGMA journal_mode=WAL");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(live.c_str(), &db), SQLITE_OK);
    const std::string update =
        "UPDATE T00_製品情報 SET InfoValue = '" + std::to_string(stamp) + "'";
    ASSERT_EQ(sqlite3_exec(db, update.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    Sandbox::WriteFile(path, Sandbox::ReadFile(live));
    Sandbox::WriteFile(path + "-wal", Sandbox::ReadFile(live + "-wal"));
    sqlite3_close(db);
    unlink(live.c_str());
}

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

TEST_F(ForeignSetup, WalSettingsDatabaseTakesTheUsersPassword) {
    Sandbox::MakeDatabase(sb.Lan() + "/maintenance.sys", "5", "users-own");
    Sandbox::MakeDatabase(sb.Lan() + "/UPDATE/maintenance.sys", "6", "shipped");
    Exec(sb.Lan() + "/UPDATE/maintenance.sys", "PRAGMA journal_mode=WAL");
    ExpectAccessStarted(sb.Run({"main.mdb"}));
    EXPECT_EQ(Sandbox::Names(sb.Lan()), (std::vector<std::string>{"UPDATE", "maintenance.sys"}));
    EXPECT_EQ(Sandbox::Names(sb.Lan() + "/UPDATE"), std::vector<std::string>{});
    EXPECT_EQ(Sandbox::ReadFile(sb.Lan() + "/maintenance.sys").substr(18, 2), "\2\2");  // WAL
    EXPECT_EQ(Sandbox::PasswordOf(sb.Lan() + "/maintenance.sys"), "users-own");
}

// A delivered copy of a live WAL database is one database with its -wal: moved in whole
// when newer (its stamp read from the -wal), discarded whole when older, and nothing of it
// ever lands beside the installed copy.
TEST_F(ForeignSetup, DeliveredWalFileGoesWithItsDatabase) {
    for (const int incoming : {4, 6}) {
        SCOPED_TRACE(incoming);
        const std::string installed = sb.System() + "/x.mdb";
        unlink(installed.c_str());
        Sandbox::MakeDatabase(installed, "5");
        CopyOfLiveWalDatabase(sb.System() + "/UPDATE/x.mdb", incoming, sb.Root());
        ExpectAccessStarted(sb.Run({"main.mdb"}));
        EXPECT_EQ(Sandbox::Names(sb.System()), (std::vector<std::string>{"UPDATE", "x.mdb"}));
        EXPECT_EQ(Sandbox::Names(sb.System() + "/UPDATE"), std::vector<std::string>{});
        sqlite3* db = nullptr;
        sqlite3_stmt* statement = nullptr;
        ASSERT_EQ(sqlite3_open_v2(installed.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr),
                  SQLITE_OK);
        sqlite3_prepare_v2(db, "SELECT InfoValue FROM T00_製品情報", -1, &statement, nullptr);
        ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
        EXPECT_EQ(sqlite3_column_int(statement, 0), incoming > 5 ? incoming : 5);
        sqlite3_finalize(statement);
        sqlite3_close(db);
    }
}

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
        held = posix::HeldByAnotherProcess(sb.Program() + "/main.ldb");
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
    // Keys of its own come first: this one names the real Access, the machine's a missing one.
    std::string both = machineClasses;
    const std::string machine = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes";
    both.replace(both.find(machine), machine.size(), "[HKEY_CLASSES_ROOT");
    both +=
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Access.Application.10\\shell\\open\\command]"
        "\r\n@=\"/missing/MSACCESS.EXE\"\r\n";
    for (const std::string& text : {machineClasses, Utf16(machineClasses), both}) {
        sb.WriteRegistryText(text);
        unlink(sb.RecordFile().c_str());
        ExpectAccessStarted(sb.Run({"main.mdb"}));
    }
}

}  // namespace
}  // namespace p2::e2e
