// Damaged and hostile files delivered for the update pass: each takes its defined route
// (a plain file by time, a damaged database stops the start, a stamp read that fails shows its
// box), and nothing crashes.
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "HostileSupport.h"
#include "platform/ports/Database.h"
#include "update/FileUpdate.h"

namespace p2::hostile {
namespace {

constexpr int64_t kOld = 1'600'000'000;
constexpr int64_t kNew = 1'700'000'000;

class HostileDelivery : public ::testing::Test {
  protected:
    void SetUp() override { Sandbox::MakeDatabase(sb.Program() + "/main.mdb", "1"); }

    std::string Sys(const std::string& name) const { return sb.System() + "/" + name; }
    std::string SysUpd(const std::string& name) const { return sb.System() + "/UPDATE/" + name; }
    std::string Lan(const std::string& name) const { return sb.Lan() + "/" + name; }
    std::string LanUpd(const std::string& name) const { return sb.Lan() + "/UPDATE/" + name; }

    // A file in place with a given modification time.
    static void Plant(const std::string& path, const std::string& bytes, int64_t time) {
        Sandbox::WriteFile(path, bytes);
        Sandbox::SetTime(path, time);
    }

    // A real database of several pages: the stamp table lies beyond the first page, so a
    // copy cut in half still has its schema and loses its data.
    static std::string LargeDatabase(const std::string& path, const std::string& stamp) {
        Sandbox::MakeDatabase(path, stamp);
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        const int rc = sqlite3_exec(
            db,
            "CREATE TABLE Filler (n INTEGER, text TEXT);"
            "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 400)"
            " INSERT INTO Filler SELECT n, printf('%0100d', n) FROM c;"
            "INSERT INTO T00_製品情報 SELECT 'Other' || n, text FROM Filler;",
            nullptr, nullptr, nullptr);
        sqlite3_close(db);
        if (rc != SQLITE_OK) {
            throw std::runtime_error("filler");
        }
        return Sandbox::ReadFile(path);
    }

    // The update pass ran through and Access was started on the target.
    void ExpectLaunched() {
        const auto args = sb.AccessArguments(true);
        ASSERT_EQ(args.size(), 8u);
        EXPECT_EQ(args[1], sb.Program() + "/main.mdb");
    }

    Sandbox sb;
};

// A file that begins as a database but does not open is a damaged one: it stops the start
// (kept for the next one), while empty files go by time.
TEST_F(HostileDelivery, GarbageWithTheDatabaseHeaderStopsTheStartEmptyFilesGoByTime) {
    const std::string garbage = "SQLite format 3" + std::string(1, '\0') + RandomBytes(8176, 7);
    const std::string header = "SQLite format 3" + std::string(1, '\0') + std::string(84, '\xff');
    Plant(Sys("empty.mdb"), "installed", kOld);
    Plant(SysUpd("empty.mdb"), "", kNew);
    Plant(Sys("older.mdb"), "installed", kNew);
    Plant(SysUpd("older.mdb"), "", kOld);
    Plant(Lan("garbage.mdb"), "installed", kOld);
    Plant(LanUpd("garbage.mdb"), garbage, kNew);
    // The page-size and format bytes of the header in every wrong way at once.
    Plant(LanUpd("header.mdb"), header, kNew);

    const RunResult r = sb.Run({"main.mdb"});
    ExpectCleanExit(r);
    EXPECT_TRUE(r.err == Box("exclamation", "\"garbage.mdb" + std::string(kUpdateFailedMessage)) ||
                r.err == Box("exclamation", "\"header.mdb" + std::string(kUpdateFailedMessage)))
        << r.err;
    EXPECT_EQ(Sandbox::ReadFile(Sys("empty.mdb")), "");
    EXPECT_EQ(Sandbox::ReadFile(Sys("older.mdb")), "installed");
    EXPECT_TRUE(Sandbox::Names(sb.System() + "/UPDATE").empty());
    EXPECT_EQ(Sandbox::ReadFile(Lan("garbage.mdb")), "installed");
    EXPECT_EQ(Sandbox::ReadFile(LanUpd("garbage.mdb")), garbage);
    EXPECT_EQ(Sandbox::ReadFile(LanUpd("header.mdb")), header);
    EXPECT_FALSE(Sandbox::Exists(Lan("header.mdb")));
    EXPECT_TRUE(sb.AccessArguments(false).empty());
}

TEST_F(HostileDelivery, DatabaseCutInHalfNeverReplacesAndAnOlderOneIsDiscarded) {
    // The engine does not take it for a database; newer, it stops the start with both copies
    // kept; older, it is discarded as any older file.
    const std::string whole = LargeDatabase(SysUpd("data.mdb"), "AB009");
    const std::string half = whole.substr(0, whole.size() / 2);
    Sandbox::MakeDatabase(Sys("data.mdb"), "AB001");
    Sandbox::SetTime(Sys("data.mdb"), kOld);
    const std::string sysInstalled = Sandbox::ReadFile(Sys("data.mdb"));
    Plant(SysUpd("data.mdb"), half, kNew);
    Sandbox::MakeDatabase(Lan("data.mdb"), "AB001");
    Sandbox::SetTime(Lan("data.mdb"), kNew);
    const std::string lanInstalled = Sandbox::ReadFile(Lan("data.mdb"));
    Plant(LanUpd("data.mdb"), half, kOld);

    const RunResult stopped = sb.Run({"main.mdb"});
    ExpectCleanExit(stopped);
    EXPECT_EQ(stopped.err, Box("exclamation", "\"data.mdb" + std::string(kUpdateFailedMessage)));
    EXPECT_EQ(Sandbox::ReadFile(Sys("data.mdb")), sysInstalled);
    EXPECT_EQ(Sandbox::ReadFile(SysUpd("data.mdb")), half);
    EXPECT_TRUE(sb.AccessArguments(false).empty());

    unlink(SysUpd("data.mdb").c_str());
    const RunResult r = sb.Run({"main.mdb"});
    ExpectCleanExit(r);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Sandbox::ReadFile(Lan("data.mdb")), lanInstalled);
    EXPECT_FALSE(Sandbox::Exists(LanUpd("data.mdb")));
    ExpectLaunched();
}

TEST_F(HostileDelivery, InstalledCopyCutInHalfIsRepairedByAnIntactDelivery) {
    const std::string whole = LargeDatabase(Sys("data.mdb"), "AB009");
    Sandbox::WriteFile(Sys("data.mdb"), whole.substr(0, whole.size() / 2));
    Sandbox::MakeDatabase(SysUpd("data.mdb"), "AB001");
    const std::string incoming = Sandbox::ReadFile(SysUpd("data.mdb"));

    const RunResult r = sb.Run({"main.mdb"});
    ExpectCleanExit(r);
    EXPECT_EQ(r.err, ErrorBox(kErrEngineNotDatabase, "mMain-GetP2S_VerInfo"));
    EXPECT_EQ(Sandbox::ReadFile(Sys("data.mdb")), incoming);
    ExpectLaunched();
}

TEST_F(HostileDelivery, DamagedSettingsDatabasesAreDiscardedAndThePasswordStays) {
    Sandbox::MakeDatabase(Sys("maintenance.sys"), "3", std::string("sys-secret"));
    Sandbox::WriteFile(SysUpd("maintenance.sys"),
                       "SQLite format 3" + std::string(1, '\0') + RandomBytes(4080, 11));
    Sandbox::MakeDatabase(Lan("maintenance.sys"), "3", std::string("lan-secret"));
    Sandbox::WriteFile(LanUpd("maintenance.sys"), "");

    const RunResult r = sb.Run({"main.mdb"});
    ExpectCleanExit(r);
    EXPECT_EQ(r.err, ErrorBox(kErrEngineNotDatabase, "mMain-GetP2S_VerInfo") +
                         ErrorBox(kErrEngineNotDatabase, "mMain-GetP2S_VerInfo"));
    EXPECT_EQ(Sandbox::PasswordOf(Sys("maintenance.sys")),
              std::optional<std::string>("sys-secret"));
    EXPECT_EQ(Sandbox::PasswordOf(Lan("maintenance.sys")),
              std::optional<std::string>("lan-secret"));
    EXPECT_TRUE(Sandbox::Names(sb.System() + "/UPDATE").empty());
    EXPECT_TRUE(Sandbox::Names(sb.Lan() + "/UPDATE").empty());
    ExpectLaunched();
}

TEST_F(HostileDelivery, SettingsDatabaseCutInHalfIsDiscarded) {
    Sandbox::MakeDatabase(Sys("maintenance.sys"), "3", std::string("sys-secret"));
    const std::string whole = LargeDatabase(SysUpd("maintenance.sys"), "9");
    Sandbox::WriteFile(SysUpd("maintenance.sys"), whole.substr(0, whole.size() / 2));

    const RunResult r = sb.Run({"main.mdb"});
    ExpectCleanExit(r);
    EXPECT_EQ(r.err, ErrorBox(kErrEngineNotDatabase, "mMain-GetP2S_VerInfo"));
    EXPECT_EQ(Sandbox::PasswordOf(Sys("maintenance.sys")),
              std::optional<std::string>("sys-secret"));
    EXPECT_FALSE(Sandbox::Exists(SysUpd("maintenance.sys")));
    ExpectLaunched();
}

TEST_F(HostileDelivery, StrangeFileNamesAreTakenLiterally) {
    const std::vector<std::string> names = {
        "*", "?.txt", "-rf", "line\nbreak.txt", "\xff\xfe.bin", std::string(255, 'n')};
    for (const std::string& name : names) {
        Plant(SysUpd(name), "new " + name, kNew);
    }
    Plant(Sys("keep.txt"), "keep", kOld);
    Plant(Sys("a.txt"), "a", kOld);

    const RunResult r = sb.Run({"main.mdb"});
    ExpectCleanExit(r);
    EXPECT_EQ(r.err, "");
    for (const std::string& name : names) {
        EXPECT_EQ(Sandbox::ReadFile(Sys(name)), "new " + name) << name.substr(0, 20);
    }
    EXPECT_EQ(Sandbox::ReadFile(Sys("keep.txt")), "keep");
    EXPECT_EQ(Sandbox::ReadFile(Sys("a.txt")), "a");
    EXPECT_TRUE(Sandbox::Names(sb.System() + "/UPDATE").empty());
    ExpectLaunched();
}

TEST_F(HostileDelivery, LinksOutOfTheFoldersAreMovedAndDeletedAsLinks) {
    Plant(sb.Root() + "/victim.txt", "victim", kOld);
    Plant(sb.Root() + "/target.txt", "target", kNew);
    // An installed file that is a link out: the delivery replaces the link.
    ASSERT_EQ(symlink((sb.Root() + "/victim.txt").c_str(), Sys("plain.txt").c_str()), 0);
    Plant(SysUpd("plain.txt"), "delivered", kNew);
    // A delivered link that loses by time: the link goes, not what it points to.
    Plant(Sys("older.txt"), "installed", kNew);
    ASSERT_EQ(symlink((sb.Root() + "/target.txt").c_str(), SysUpd("older.txt").c_str()), 0);
    Sandbox::SetTime(sb.Root() + "/target.txt", kOld);

    const RunResult r = sb.Run({"main.mdb"});
    ExpectCleanExit(r);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Sandbox::ReadFile(Sys("plain.txt")), "delivered");
    EXPECT_EQ(Sandbox::ReadFile(sb.Root() + "/victim.txt"), "victim");
    EXPECT_EQ(Sandbox::ReadFile(Sys("older.txt")), "installed");
    EXPECT_EQ(Sandbox::ReadFile(sb.Root() + "/target.txt"), "target");
    EXPECT_TRUE(Sandbox::Names(sb.System() + "/UPDATE").empty());
    ExpectLaunched();
}

class HostileStamp : public HostileDelivery {};

TEST_F(HostileStamp, TenThousandDigitsOverflowAndTheCopyIsDiscarded) {
    Sandbox::MakeDatabase(Sys("data.mdb"), "5");
    Sandbox::MakeDatabase(SysUpd("data.mdb"), std::string(10'000, '9'));
    const std::string installed = Sandbox::ReadFile(Sys("data.mdb"));

    const RunResult r = sb.Run({"main.mdb"});
    ExpectCleanExit(r);
    EXPECT_EQ(r.err, ErrorBox(6, "mMain-GetP2S_VerInfo"));
    EXPECT_EQ(Sandbox::ReadFile(Sys("data.mdb")), installed);
    EXPECT_FALSE(Sandbox::Exists(SysUpd("data.mdb")));
    ExpectLaunched();
}

TEST_F(HostileStamp, TenThousandLettersAreATypeMismatch) {
    Sandbox::MakeDatabase(Lan("data.mdb"), "5");
    Sandbox::MakeDatabase(LanUpd("data.mdb"), std::string(10'000, 'A'));
    const std::string installed = Sandbox::ReadFile(Lan("data.mdb"));

    const RunResult r = sb.Run({"main.mdb"});
    ExpectCleanExit(r);
    EXPECT_EQ(r.err, ErrorBox(13, "mMain-GetP2S_VerInfo"));
    EXPECT_EQ(Sandbox::ReadFile(Lan("data.mdb")), installed);
    EXPECT_FALSE(Sandbox::Exists(LanUpd("data.mdb")));
    ExpectLaunched();
}

TEST_F(HostileStamp, OverflowingInstalledStampCountsAsNoneAndTheDeliveryMovesIn) {
    Sandbox::MakeDatabase(Sys("data.mdb"), "1" + std::string(9'999, '0'));
    Sandbox::MakeDatabase(SysUpd("data.mdb"), "AB002");
    const std::string incoming = Sandbox::ReadFile(SysUpd("data.mdb"));

    const RunResult r = sb.Run({"main.mdb"});
    ExpectCleanExit(r);
    EXPECT_EQ(r.err, ErrorBox(6, "mMain-GetP2S_VerInfo"));
    EXPECT_EQ(Sandbox::ReadFile(Sys("data.mdb")), incoming);
    ExpectLaunched();
}

TEST_F(HostileStamp, TenThousandCharactersThatAreASmallNumberCompareAsIt) {
    // Leading zeros and blanks are no overflow: these read 7 and 4.
    Sandbox::MakeDatabase(Sys("zeros.mdb"), "5");
    Sandbox::MakeDatabase(SysUpd("zeros.mdb"), std::string(9'999, '0') + "7");
    Sandbox::MakeDatabase(Lan("blanks.mdb"), "5");
    Sandbox::MakeDatabase(LanUpd("blanks.mdb"), std::string(9'999, ' ') + "4");
    const std::string zeros = Sandbox::ReadFile(SysUpd("zeros.mdb"));
    const std::string blanks = Sandbox::ReadFile(Lan("blanks.mdb"));

    const RunResult r = sb.Run({"main.mdb"});
    ExpectCleanExit(r);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Sandbox::ReadFile(Sys("zeros.mdb")), zeros);
    EXPECT_EQ(Sandbox::ReadFile(Lan("blanks.mdb")), blanks);
    EXPECT_FALSE(Sandbox::Exists(LanUpd("blanks.mdb")));
    ExpectLaunched();
}

TEST_F(HostileStamp, SettingsDatabaseWithAnOverflowingStampKeepsThePassword) {
    Sandbox::MakeDatabase(Sys("maintenance.sys"), "3", std::string("user-secret"));
    Sandbox::MakeDatabase(SysUpd("maintenance.sys"), std::string(10'000, '9'),
                          std::string("shipped"));

    const RunResult r = sb.Run({"main.mdb"});
    ExpectCleanExit(r);
    EXPECT_EQ(r.err, ErrorBox(6, "mMain-GetP2S_VerInfo"));
    EXPECT_EQ(Sandbox::PasswordOf(Sys("maintenance.sys")),
              std::optional<std::string>("user-secret"));
    EXPECT_FALSE(Sandbox::Exists(SysUpd("maintenance.sys")));
    ExpectLaunched();
}

class HostileCarryOver : public HostileDelivery {
  protected:
    // The password column's storage class and bytes of the first row.
    static std::pair<std::string, std::string> RawPassword(const std::string& path) {
        sqlite3* db = nullptr;
        std::pair<std::string, std::string> found{"<none>", ""};
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db,
                               "SELECT typeof(pwd), pwd FROM TZs_オプション設定 ORDER BY rowid "
                               "LIMIT 1",
                               -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW) {
            found.first = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
            const void* bytes = sqlite3_column_blob(statement, 1);
            found.second.assign(static_cast<const char*>(bytes),
                                static_cast<std::size_t>(sqlite3_column_bytes(statement, 1)));
        }
        sqlite3_finalize(statement);
        sqlite3_close(db);
        return found;
    }

    static void SetBlobPassword(const std::string& path, const std::string& bytes) {
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "UPDATE TZs_オプション設定 SET pwd = ?", -1, &statement, nullptr);
        sqlite3_bind_blob(statement, 1, bytes.data(), static_cast<int>(bytes.size()),
                          SQLITE_TRANSIENT);
        const int rc = sqlite3_step(statement);
        sqlite3_finalize(statement);
        sqlite3_close(db);
        ASSERT_EQ(rc, SQLITE_DONE);
    }
};

TEST_F(HostileCarryOver, BlobPasswordIsCarriedOverByteForByte) {
    const std::string blob = std::string("\0\xff\xfe\x01pw\0\x80", 9) + RandomBytes(3000, 3);
    Sandbox::MakeDatabase(Sys("maintenance.sys"), "3", std::string("placeholder"));
    SetBlobPassword(Sys("maintenance.sys"), blob);
    Sandbox::MakeDatabase(SysUpd("maintenance.sys"), "4", std::string("shipped"));

    const RunResult r = sb.Run({"main.mdb"});
    ExpectCleanExit(r);
    EXPECT_EQ(r.err, "");
    const auto [type, bytes] = RawPassword(Sys("maintenance.sys"));
    EXPECT_EQ(type, "blob");
    EXPECT_EQ(bytes, blob);
    EXPECT_FALSE(Sandbox::Exists(SysUpd("maintenance.sys")));
    ExpectLaunched();
}

}  // namespace
}  // namespace p2::hostile
