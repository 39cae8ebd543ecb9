// The engine as the plan uses it: every database opened for reading only.
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "EngineFixture.h"

namespace p2::posix::test {
namespace {

class ReadOnlyEngine : public EngineFixture {
  protected:
    DBEngine& ReadOnly() {
        DBEngine& engine = readOnly_.Engine();
        engine.SetSystemDB(wgf_);
        engine.SetDefaultUser(kUser);
        engine.SetDefaultPassword(kPassword);
        return engine;
    }
    std::string StampOf(const std::string& path) {
        auto db = ReadOnly().OpenDatabase(path);
        auto stamps = db->OpenRecordset("SELECT InfoValue FROM T00_製品情報", kDbOpenSnapshot);
        const FieldValue value = stamps->Field("InfoValue");
        stamps->Close();
        db->Close();
        return std::get<std::string>(value);
    }
    SqliteDatabaseService readOnly_{nullptr, true};
};

TEST_F(ReadOnlyEngine, RefusesToWriteAndLeavesNoSideFile) {
    const std::string path = MakeDatabase("maintenance.sys",
                                          "CREATE TABLE TZs_オプション設定 (pwd TEXT); INSERT INTO "
                                          "TZs_オプション設定 VALUES ('own');");
    const std::string before = ReadBytes(path);
    {
        auto db = ReadOnly().OpenDatabase(path);
        auto options = db->OpenRecordset("TZs_オプション設定", kDbOpenDynaset);
        EXPECT_EQ(NumberOf([&] { options->Edit(); }), kErrEngineReadOnly);
    }
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_EQ(Listing(), (std::set<std::string>{"Pelorin2.wgf", "maintenance.sys"}));
}

// A writer killed in the middle of its transaction leaves a journal that the next read-write
// open plays back: the read-only engine reads what that open would read, and leaves both
// files as they are.
TEST_F(ReadOnlyEngine, ReadsAJournalledDatabaseAsItWillBeRolledBack) {
    const std::string path =
        MakeDatabase("sales.mdb",
                     "CREATE TABLE T00_製品情報 (InfoKey TEXT, InfoValue TEXT);"
                     "INSERT INTO T00_製品情報 VALUES ('Version', '6'); CREATE TABLE big (b);");
    const pid_t writer = fork();
    if (writer == 0) {
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        sqlite3_exec(db,
                     "PRAGMA cache_size = 1; BEGIN; INSERT INTO big WITH RECURSIVE r(i) AS "
                     "(SELECT 1 UNION ALL SELECT i + 1 FROM r WHERE i < 2000) SELECT "
                     "randomblob(1000) FROM r; UPDATE T00_製品情報 SET InfoValue = '7';",
                     nullptr, nullptr, nullptr);
        _exit(0);
    }
    int status = 0;
    waitpid(writer, &status, 0);
    const std::string bytes = ReadBytes(path);
    const std::string journal = ReadBytes(path + "-journal");
    ASSERT_FALSE(journal.empty());

    EXPECT_EQ(StampOf(path), "6");
    EXPECT_EQ(ReadBytes(path), bytes);
    EXPECT_EQ(ReadBytes(path + "-journal"), journal);
    EXPECT_EQ(StampOf(path), "6");
}

}  // namespace
}  // namespace p2::posix::test
