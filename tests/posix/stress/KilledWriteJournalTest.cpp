// A start killed in the middle of the settings carry-over leaves the engine's rollback
// journal beside the incoming copy. The next start must roll it back with its database, not
// move it into the installation as a file of its own (where it would be played back over the
// installed copy and cost the user's password) nor stop on it.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "Sandbox.h"
#include "platform/posix/Ports_posix.h"

namespace p2::stress {
namespace {

using e2e::Sandbox;

class KilledCarryOverJournal : public ::testing::Test {
  protected:
    KilledCarryOverJournal() {
        Sandbox::MakeDatabase(sb.Program() + "/main.mdb", "1");
        Sandbox::MakeDatabase(sb.Lan() + "/maintenance.sys", "5", "users-own");
        Sandbox::MakeDatabase(Incoming(), "6", "shipped");
    }
    std::string Incoming() const { return sb.Lan() + "/UPDATE/maintenance.sys"; }
    std::string Journal() const { return Incoming() + "-journal"; }

    // Writes the incoming copy in a child that dies before the commit, its changed pages
    // already in the file: a hot journal.
    void DieInTheMiddleOfAWrite() const {
        const pid_t pid = fork();
        if (pid == 0) {
            sqlite3* db = nullptr;
            sqlite3_open(Incoming().c_str(), &db);
            sqlite3_exec(db, "BEGIN; UPDATE TZs_オプション設定 SET pwd = 'half-written';", nullptr,
                         nullptr, nullptr);
            sqlite3_db_cacheflush(db);
            _exit(0);
        }
        int status = 0;
        waitpid(pid, &status, 0);
    }

    void ExpectTheUpdateFinished() {
        const e2e::RunResult r = sb.Run({"main.mdb"});
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(Sandbox::Names(sb.Lan()),
                  (std::vector<std::string>{"UPDATE", "maintenance.sys"}));
        EXPECT_EQ(Sandbox::Names(sb.Lan() + "/UPDATE"), std::vector<std::string>{});
        EXPECT_EQ(Sandbox::PasswordOf(sb.Lan() + "/maintenance.sys"), "users-own");
        EXPECT_EQ(OtherOf(sb.Lan() + "/maintenance.sys"), "6");  // the new version
    }

    // The settings row's other field: the stamp its copy was made with.
    static std::string OtherOf(const std::string& path) {
        sqlite3* db = nullptr;
        std::string other;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(db, "SELECT other FROM TZs_オプション設定", -1, &statement,
                               nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW) {
            other = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        }
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return other;
    }

    Sandbox sb;
};

TEST_F(KilledCarryOverJournal, HotJournalIsRolledBackAndTheCarryOverRedone) {
    DieInTheMiddleOfAWrite();
    ASSERT_TRUE(Sandbox::Exists(Journal()));
    ExpectTheUpdateFinished();
}

TEST_F(KilledCarryOverJournal, JournalNotYetSyncedIsNeitherMovedNorLeft) {
    // As the engine leaves it before its first sync: the header still zero.
    Sandbox::WriteFile(Journal(), std::string(512, '\0') + std::string(4096, 'p'));
    ExpectTheUpdateFinished();
}

TEST_F(KilledCarryOverJournal, EmptyJournalIsNeitherMovedNorLeft) {
    Sandbox::WriteFile(Journal(), "");
    ExpectTheUpdateFinished();
}

// The listing leaves out only what is surely a journal of a database beside it.
TEST(JournalListing, OnlyAJournalBesideItsDatabaseIsLeftOut) {
    Sandbox sb;
    const std::string folder = sb.System() + "/UPDATE";
    Sandbox::MakeDatabase(folder + "/a.mdb", "1");
    Sandbox::WriteFile(folder + "/a.mdb-journal", "");
    Sandbox::WriteFile(folder + "/lone.mdb-journal", "");  // no database of that name
    Sandbox::MakeDatabase(folder + "/b.mdb", "1");
    Sandbox::WriteFile(folder + "/b.mdb-journal", "a delivered file of that name");
    posix::PosixFiles files;
    std::vector<std::string> names = files.ListFiles(folder);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"a.mdb", "b.mdb", "b.mdb-journal", "lone.mdb-journal"}));
}

}  // namespace
}  // namespace p2::stress
