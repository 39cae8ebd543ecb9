// Result sets: the system's statements unchanged, field lookup, snapshot and dynaset, and
// writing one row back.
#include <gmock/gmock.h>

#include "posix/engine/EngineFixture.h"

namespace p2::posix::test {
namespace {

constexpr const char* kContent =
    "CREATE TABLE T00_製品情報 (InfoKey TEXT, InfoValue TEXT);"
    "INSERT INTO T00_製品情報 VALUES ('Other', 'ZZ999'), ('Version', 'AB123');"
    "CREATE TABLE TZs_オプション設定 (id INTEGER PRIMARY KEY, pwd, note TEXT);"
    "INSERT INTO TZs_オプション設定 VALUES (1, 'first', 'a'), (2, 'second', 'b');"
    "CREATE TABLE Kinds (i INTEGER, r REAL, t TEXT, b BLOB, n);"
    "INSERT INTO Kinds VALUES (-42, 2.5, '日本語', x'00FF10', NULL);"
    "CREATE TABLE Empty (pwd TEXT);"
    "CREATE TABLE \"we\"\"ird\" (v TEXT); INSERT INTO \"we\"\"ird\" VALUES ('quoted');"
    "CREATE TABLE NoRowid (k TEXT PRIMARY KEY, pwd TEXT) WITHOUT ROWID;"
    "INSERT INTO NoRowid VALUES ('k', 'v');"
    "CREATE VIEW Options AS SELECT * FROM TZs_オプション設定;";

class Recordsets : public EngineFixture {
  protected:
    void SetUp() override {
        EngineFixture::SetUp();
        path_ = MakeDatabase("app.mdb", kContent);
        database_ = Engine().OpenDatabase(path_);
    }
    void TearDown() override {
        database_.reset();
        EngineFixture::TearDown();
    }

    // The first row's field as the database holds it now, read on a fresh connection.
    FieldValue Stored(const std::string& table, const std::string& field) {
        auto database = Engine().OpenDatabase(path_);
        auto rows = database->OpenRecordset(table, kDbOpenSnapshot);
        FieldValue value = rows->Field(field);
        rows->Close();
        database->Close();
        return value;
    }

    std::string path_;
    std::unique_ptr<Database> database_;
};

TEST_F(Recordsets, TheSystemsStatementRunsUnchanged) {
    auto rows = database_->OpenRecordset(
        "SELECT InfoKey, InfoValue From T00_製品情報 WHERE InfoKey='Version';", kDbOpenSnapshot);
    EXPECT_FALSE(rows->Bof());
    EXPECT_FALSE(rows->Eof());
    EXPECT_EQ(rows->Field("InfoValue"), FieldValue(std::string("AB123")));
    rows->Close();
}

TEST_F(Recordsets, LeadingBlanksAndLetterCaseStillMakeAStatement) {
    auto rows = database_->OpenRecordset(
        "  \n select InfoValue from T00_製品情報 where "
        "InfoKey='Version'",
        kDbOpenSnapshot);
    EXPECT_EQ(rows->Field("infovalue"), FieldValue(std::string("AB123")));
}

TEST_F(Recordsets, AMissingTableOrQueryIs3078) {
    EXPECT_EQ(NumberOf([&] {
                  database_->OpenRecordset(
                      "SELECT InfoKey, InfoValue From DB情報 WHERE InfoKey='Version';",
                      kDbOpenSnapshot);
              }),
              kErrEngineTableMissing);
    EXPECT_EQ(NumberOf([&] { database_->OpenRecordset("NoSuchTable", kDbOpenDynaset); }),
              kErrEngineTableMissing);
    EXPECT_EQ(NumberOf([&] { database_->OpenRecordset("NoSuchTable", kDbOpenSnapshot); }),
              kErrEngineTableMissing);
}

TEST_F(Recordsets, ABrokenStatementIsNotTakenForAMissingTable) {
    EXPECT_EQ(NumberOf([&] { database_->OpenRecordset("SELECT FROM WHERE", kDbOpenSnapshot); }),
              kErrEngineQuerySyntax);
    EXPECT_EQ(NumberOf([&] { database_->OpenRecordset("   ", kDbOpenSnapshot); }),
              kErrEngineTableMissing);
}

TEST_F(Recordsets, StatementTextRunsNothingButOneQuery) {
    auto rows = database_->OpenRecordset("SELECT count(*) AS n FROM Kinds; DROP TABLE Kinds;",
                                         kDbOpenSnapshot);
    EXPECT_EQ(rows->Field("n"), FieldValue(int64_t{1}));
    EXPECT_EQ(NumberOf([&] { database_->OpenRecordset("Kinds", kDbOpenSnapshot); }), 0);
}

TEST_F(Recordsets, ATableNameIsQuotedAsAName) {
    auto rows = database_->OpenRecordset("we\"ird", kDbOpenSnapshot);
    EXPECT_EQ(rows->Field("v"), FieldValue(std::string("quoted")));
    // A name is never run as a statement.
    EXPECT_EQ(
        NumberOf([&] { database_->OpenRecordset("Kinds; DROP TABLE Kinds", kDbOpenSnapshot); }),
        kErrEngineTableMissing);
    EXPECT_EQ(NumberOf([&] { database_->OpenRecordset("Kinds", kDbOpenSnapshot); }), 0);
}

TEST_F(Recordsets, FieldsAreFoundWithoutRegardToLetterCase) {
    auto rows = database_->OpenRecordset("TZs_オプション設定", kDbOpenSnapshot);
    EXPECT_EQ(rows->Field("PWD"), FieldValue(std::string("first")));
    EXPECT_EQ(rows->Field("Pwd"), rows->Field("pwd"));
}

TEST_F(Recordsets, AMissingFieldIsNotInTheCollection) {
    auto rows = database_->OpenRecordset("TZs_オプション設定", kDbOpenDynaset);
    EXPECT_EQ(NumberOf([&] { rows->Field("password"); }), kErrEngineItemNotFound);
    rows->Edit();
    EXPECT_EQ(NumberOf([&] { rows->SetField("password", Null{}); }), kErrEngineItemNotFound);
}

TEST_F(Recordsets, AnEmptyResultStandsAtBothEnds) {
    auto empty = database_->OpenRecordset("Empty", kDbOpenDynaset);
    EXPECT_TRUE(empty->Bof());
    EXPECT_TRUE(empty->Eof());
    EXPECT_EQ(NumberOf([&] { empty->Field("pwd"); }), kErrEngineNoCurrentRecord);
    EXPECT_EQ(NumberOf([&] { empty->Edit(); }), kErrEngineNoCurrentRecord);
    auto none =
        database_->OpenRecordset("SELECT * FROM T00_製品情報 WHERE InfoKey='x'", kDbOpenSnapshot);
    EXPECT_TRUE(none->Bof() && none->Eof());
}

TEST_F(Recordsets, ValuesKeepTheirKinds) {
    auto rows = database_->OpenRecordset("Kinds", kDbOpenSnapshot);
    EXPECT_EQ(rows->Field("i"), FieldValue(int64_t{-42}));
    EXPECT_EQ(rows->Field("r"), FieldValue(2.5));
    EXPECT_EQ(rows->Field("t"), FieldValue(std::string("日本語")));
    EXPECT_EQ(rows->Field("b"), FieldValue(Blob{0x00, 0xFF, 0x10}));
    EXPECT_EQ(rows->Field("n"), FieldValue(Null{}));
}

TEST_F(Recordsets, ASnapshotIsAReadOnlyCopy) {
    auto snapshot = database_->OpenRecordset("TZs_オプション設定", kDbOpenSnapshot);
    EXPECT_EQ(NumberOf([&] { snapshot->Edit(); }), kErrEngineReadOnly);

    auto dynaset = database_->OpenRecordset("TZs_オプション設定", kDbOpenDynaset);
    dynaset->Edit();
    dynaset->SetField("pwd", std::string("changed"));
    dynaset->Update(kDbUpdateRegular);
    EXPECT_EQ(snapshot->Field("pwd"), FieldValue(std::string("first")));
    EXPECT_EQ(dynaset->Field("pwd"), FieldValue(std::string("changed")));
}

TEST_F(Recordsets, OnlyATablesDynasetCanBeEdited) {
    auto statement = database_->OpenRecordset("SELECT * FROM TZs_オプション設定", kDbOpenDynaset);
    EXPECT_EQ(NumberOf([&] { statement->Edit(); }), kErrEngineReadOnly);
    auto view = database_->OpenRecordset("Options", kDbOpenDynaset);
    EXPECT_EQ(view->Field("pwd"), FieldValue(std::string("first")));
    EXPECT_EQ(NumberOf([&] { view->Edit(); }), kErrEngineReadOnly);
    auto noRowid = database_->OpenRecordset("NoRowid", kDbOpenDynaset);
    EXPECT_EQ(noRowid->Field("pwd"), FieldValue(std::string("v")));
    EXPECT_EQ(NumberOf([&] { noRowid->Edit(); }), kErrEngineReadOnly);
}

class RowUpdate : public Recordsets, public ::testing::WithParamInterface<FieldValue> {};

TEST_P(RowUpdate, WritesTheValueIntoTheFirstRowOnly) {
    auto rows = database_->OpenRecordset("TZs_オプション設定", kDbOpenDynaset);
    rows->Edit();
    rows->SetField("pwd", GetParam());
    rows->Update(kDbUpdateRegular);
    rows->Close();
    database_->Close();

    EXPECT_EQ(Stored("TZs_オプション設定", "pwd"), GetParam());
    EXPECT_EQ(Stored("TZs_オプション設定", "note"), FieldValue(std::string("a")));
    EXPECT_EQ(Stored("SELECT * FROM TZs_オプション設定 WHERE id = 2", "pwd"),
              FieldValue(std::string("second")));
}

INSTANTIATE_TEST_SUITE_P(EveryKind, RowUpdate,
                         ::testing::Values(FieldValue(Null{}), FieldValue(std::string("new pass")),
                                           FieldValue(std::string("")),
                                           FieldValue(std::string("パス\0word", 10)),
                                           FieldValue(int64_t{1234567890123}), FieldValue(-0.25),
                                           FieldValue(Blob{0x00, 0x01, 0xFE, 0xFF, 0x00}),
                                           FieldValue(Blob{})));

TEST_F(Recordsets, UpdateAndSetFieldNeedEdit) {
    auto rows = database_->OpenRecordset("TZs_オプション設定", kDbOpenDynaset);
    EXPECT_EQ(NumberOf([&] { rows->Update(kDbUpdateRegular); }), kErrEngineNotEditing);
    EXPECT_EQ(NumberOf([&] { rows->SetField("pwd", Null{}); }), kErrEngineNotEditing);
    rows->Edit();
    rows->SetField("pwd", std::string("x"));
    rows->Update(kDbUpdateRegular);
    // The edit ends with the update.
    EXPECT_EQ(NumberOf([&] { rows->Update(kDbUpdateRegular); }), kErrEngineNotEditing);
}

TEST_F(Recordsets, AnUpdateWhileAnotherHoldsTheFileIsLocked) {
    auto rows = database_->OpenRecordset("TZs_オプション設定", kDbOpenDynaset);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    rows->Edit();
    rows->SetField("pwd", std::string("late"));
    EXPECT_EQ(NumberOf([&] { rows->Update(kDbUpdateRegular); }), kErrEngineLocked);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);

    // Still editing: the same update goes through once the file is free.
    rows->Update(kDbUpdateRegular);
    rows->Close();
    database_->Close();
    EXPECT_EQ(Stored("TZs_オプション設定", "pwd"), FieldValue(std::string("late")));
}

TEST_F(Recordsets, NothingWorksAfterClose) {
    auto rows = database_->OpenRecordset("TZs_オプション設定", kDbOpenDynaset);
    rows->Close();
    EXPECT_EQ(NumberOf([&] { rows->Eof(); }), kErrEngineObjectClosed);
    EXPECT_EQ(NumberOf([&] { rows->Field("pwd"); }), kErrEngineObjectClosed);
    EXPECT_EQ(NumberOf([&] { rows->Close(); }), kErrEngineObjectClosed);

    auto orphan = database_->OpenRecordset("TZs_オプション設定", kDbOpenDynaset);
    database_->Close();
    EXPECT_EQ(NumberOf([&] { orphan->Bof(); }), kErrEngineObjectClosed);
    EXPECT_EQ(NumberOf([&] { orphan->Edit(); }), kErrEngineObjectClosed);
    EXPECT_EQ(NumberOf([&] { database_->OpenRecordset("Kinds", kDbOpenSnapshot); }),
              kErrEngineObjectClosed);
    EXPECT_EQ(NumberOf([&] { database_->Close(); }), kErrEngineObjectClosed);
}

TEST_F(Recordsets, ARecordsetOutlivingItsDatabaseObjectIsHarmless) {
    auto rows = database_->OpenRecordset("TZs_オプション設定", kDbOpenDynaset);
    database_.reset();
    EXPECT_EQ(NumberOf([&] { rows->Field("pwd"); }), kErrEngineObjectClosed);
}

}  // namespace
}  // namespace p2::posix::test
