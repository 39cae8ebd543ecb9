// What a look at a database leaves behind: nothing. No side file after any open, probe,
// read or write, and not a byte or a time stamp changed by reading.
#include <sys/stat.h>

#include "posix/engine/EngineFixture.h"

namespace p2::posix::test {
namespace {

constexpr const char* kContent =
    "CREATE TABLE TZs_オプション設定 (pwd TEXT);"
    "INSERT INTO TZs_オプション設定 VALUES ('old');";

struct Snapshot {
    std::string bytes;
    timespec modified{};
};

class FileIntegrity : public EngineFixture {
  protected:
    Snapshot Take(const std::string& path) {
        struct stat info {};
        EXPECT_EQ(stat(path.c_str(), &info), 0);
        return {ReadBytes(path), info.st_mtim};
    }
    static void ExpectSame(const Snapshot& a, const Snapshot& b) {
        EXPECT_EQ(a.bytes, b.bytes);
        EXPECT_EQ(a.modified.tv_sec, b.modified.tv_sec);
        EXPECT_EQ(a.modified.tv_nsec, b.modified.tv_nsec);
    }
};

TEST_F(FileIntegrity, OpenReadAndCloseChangeNothing) {
    const std::string db = MakeDatabase("a.mdb", kContent);
    const auto listing = Listing();
    const Snapshot before = Take(db);
    const Snapshot workgroupBefore = Take(wgf_);

    auto database = Engine().OpenDatabase(db);
    auto snapshot = database->OpenRecordset("TZs_オプション設定", kDbOpenSnapshot);
    auto dynaset = database->OpenRecordset("TZs_オプション設定", kDbOpenDynaset);
    EXPECT_EQ(snapshot->Field("pwd"), dynaset->Field("pwd"));
    snapshot->Close();
    dynaset->Close();
    database->Close();

    ExpectSame(before, Take(db));
    ExpectSame(workgroupBefore, Take(wgf_));
    EXPECT_EQ(Listing(), listing);
}

TEST_F(FileIntegrity, AProbeThatFailsChangesNothing) {
    const std::string db = MakeDatabase("a.mdb", kContent);
    SecureDatabase(db, {"someone else"});
    const std::string text = MakeFile("t.mdb", "plain text");
    const auto listing = Listing();
    const Snapshot securedBefore = Take(db);
    const Snapshot textBefore = Take(text);

    EXPECT_EQ(NumberOf([&] { Engine().OpenDatabase(db); }), kErrEngineNoPermission);
    EXPECT_EQ(NumberOf([&] { Engine().OpenDatabase(text); }), kErrEngineNotDatabase);

    ExpectSame(securedBefore, Take(db));
    ExpectSame(textBefore, Take(text));
    EXPECT_EQ(Listing(), listing);
}

TEST_F(FileIntegrity, AnUpdateLeavesNoJournal) {
    const std::string db = MakeDatabase("a.mdb", kContent);
    const auto listing = Listing();
    {
        auto database = Engine().OpenDatabase(db);
        auto rows = database->OpenRecordset("TZs_オプション設定", kDbOpenDynaset);
        rows->Edit();
        rows->SetField("pwd", std::string("new"));
        rows->Update(kDbUpdateRegular);
        EXPECT_EQ(Listing(), listing);
        // Released by their destructors alone, as on an error path.
    }
    EXPECT_EQ(Listing(), listing);
    auto database = Engine().OpenDatabase(db);
    EXPECT_EQ(database->OpenRecordset("TZs_オプション設定", kDbOpenSnapshot)->Field("pwd"),
              FieldValue(std::string("new")));
}

TEST_F(FileIntegrity, AWalDatabaseIsReadAsItStandsAndLeftInItsMode) {
    const std::string db = MakeDatabase("wal.mdb",
                                        "PRAGMA journal_mode=WAL;"
                                        "CREATE TABLE TZs_オプション設定 (pwd TEXT);"
                                        "INSERT INTO TZs_オプション設定 VALUES ('w');");
    const auto listing = Listing();
    ASSERT_EQ(listing.count("wal.mdb-wal"), 0u);
    const Snapshot before = Take(db);

    auto database = Engine().OpenDatabase(db);
    auto rows = database->OpenRecordset("TZs_オプション設定", kDbOpenDynaset);
    EXPECT_EQ(rows->Field("pwd"), FieldValue(std::string("w")));
    EXPECT_EQ(Listing(), listing);
    rows->Close();
    database->Close();

    ExpectSame(before, Take(db));
    EXPECT_EQ(Listing(), listing);
}

TEST_F(FileIntegrity, AWalDatabaseBeingWrittenIsInUse) {
    const std::string db = MakeDatabase("wal.mdb",
                                        "PRAGMA journal_mode=WAL;"
                                        "CREATE TABLE t (v TEXT);");
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &writer), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer, "INSERT INTO t VALUES ('x')", nullptr, nullptr, nullptr),
              SQLITE_OK);
    EXPECT_EQ(NumberOf([&] { Engine().OpenDatabase(db); }), kErrEngineInUse);
    sqlite3_close(writer);
}

TEST_F(FileIntegrity, AWriteProtectedDatabaseOpensForReading) {
    const std::string db = MakeDatabase("ro.mdb", kContent);
    ASSERT_EQ(chmod(db.c_str(), 0444), 0);
    const auto listing = Listing();
    auto database = Engine().OpenDatabase(db);
    auto rows = database->OpenRecordset("TZs_オプション設定", kDbOpenDynaset);
    EXPECT_EQ(rows->Field("pwd"), FieldValue(std::string("old")));
    if (geteuid() != 0) {
        EXPECT_EQ(NumberOf([&] { rows->Edit(); }), kErrEngineReadOnly);
    }
    database->Close();
    EXPECT_EQ(Listing(), listing);
}

}  // namespace
}  // namespace p2::posix::test
