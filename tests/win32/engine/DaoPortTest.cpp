// The DAO port against the stand-in engine registered in the test prefix.
#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>

#include "EngineTestSupport.h"
#include "platform/Error.h"
#include "platform/Handler.h"
#include "platform/win32/Com_win32.h"
#include "platform/win32/Ports_win32.h"

namespace p2::win32 {
namespace {

using test::ReadDatabase;
using test::Store;
using test::Table;
using test::TempFolder;
using test::W;
using test::WriteDatabase;
using test::WriteText;
using test::WriteWorkgroup;

bool EngineRegistered() {
    CLSID clsid{};
    return SUCCEEDED(CLSIDFromProgID(L"DAO.DBEngine.36", &clsid));
}

#define REQUIRE_ENGINE()                                                     \
    if (!EngineRegistered()) {                                               \
        GTEST_SKIP() << "no DAO.DBEngine.36 registered in this Wine prefix"; \
    }

class DaoPort : public ::testing::Test {
  protected:
    void SetUp() override {
        REQUIRE_ENGINE();
        WriteWorkgroup(Workgroup(), "tester", "secret");
        LogOn("tester", "secret");
    }

    DBEngine& Engine() { return service_.Engine(); }
    void LogOn(const std::string& user, const std::string& password) {
        Engine().SetSystemDB(Workgroup());
        Engine().SetDefaultUser(user);
        Engine().SetDefaultPassword(password);
    }
    std::string Workgroup() const { return dir_ / "test.wgf"; }
    int32_t OpenError(const std::string& path) {
        return ErrorOf([&] { Engine().OpenDatabase(path)->Close(); });
    }
    // Options: first row pwd "old", id 7, note Null; a second row that never takes part.
    std::string OptionsDatabase(const std::string& name = "settings.sys") {
        const std::string path = dir_ / name;
        WriteDatabase(path, Store{{Table{"TZs_オプション設定",
                                         {"id", "pwd", "note"},
                                         {{int32_t{7}, std::string("old"), daofake::Null{}},
                                          {int32_t{8}, std::string("second"), daofake::Null{}}}},
                                   Table{"Empty", {"pwd"}, {}}}});
        return path;
    }

    TempFolder dir_;
    Win32DatabaseService service_;
};

TEST_F(DaoPort, TheEngineIsCreatedOnceAndKept) {
    EXPECT_EQ(&service_.Engine(), &service_.Engine());
}

TEST_F(DaoPort, OpensADatabaseUnderTheWorkgroupAccount) {
    const std::string path = dir_ / "販売 データ.mdb";
    WriteDatabase(path, Store{});
    EXPECT_EQ(OpenError(path), 0);
}

TEST_F(DaoPort, RefusedOpensCarryTheEngineNumbers) {
    const std::string database = dir_ / "app.mdb";
    WriteDatabase(database, Store{});
    EXPECT_EQ(OpenError(dir_ / "missing.mdb"), kErrEngineFileNotFound);
    WriteText(dir_ / "plain.txt", "not a database");
    EXPECT_EQ(OpenError(dir_ / "plain.txt"), kErrEngineNotDatabase);
    WriteText(dir_ / "empty.mdb", "");
    EXPECT_EQ(OpenError(dir_ / "empty.mdb"), kErrEngineNotDatabase);

    LogOn("tester", "wrong");
    EXPECT_EQ(OpenError(database), kErrEngineAccountRefused);
    LogOn("nobody", "secret");
    EXPECT_EQ(OpenError(database), kErrEngineAccountRefused);

    Engine().SetSystemDB(dir_ / "missing.wgf");
    Engine().SetDefaultUser("tester");
    Engine().SetDefaultPassword("secret");
    EXPECT_EQ(OpenError(database), kErrEngineWorkgroupMissing);
    WriteText(dir_ / "plain.wgf", "tester:secret\r\n");
    Engine().SetSystemDB(dir_ / "plain.wgf");
    EXPECT_EQ(OpenError(database), kErrEngineWorkgroupMissing);
}

TEST_F(DaoPort, EachSettingTakesEffectAtTheNextOpen) {
    const std::string database = dir_ / "app.mdb";
    WriteDatabase(database, Store{});
    LogOn("tester", "wrong");
    ASSERT_EQ(OpenError(database), kErrEngineAccountRefused);
    Engine().SetDefaultPassword("secret");
    EXPECT_EQ(OpenError(database), 0);
}

TEST_F(DaoPort, StatementsAndTableNamesOpenRecordsets) {
    const std::string path = dir_ / "stamp.mdb";
    WriteDatabase(path, Store{{Table{"T00_製品情報",
                                     {"InfoKey", "InfoValue"},
                                     {{std::string("Other"), std::string("XX999")},
                                      {std::string("Version"), std::string("AB123")}}}}});
    auto database = Engine().OpenDatabase(path);
    auto stamps = database->OpenRecordset(
        "SELECT InfoKey, InfoValue From T00_製品情報 WHERE InfoKey='Version';", kDbOpenSnapshot);
    EXPECT_EQ(stamps->Field("InfoValue"), FieldValue(std::string("AB123")));
    stamps->Close();

    auto table = database->OpenRecordset("T00_製品情報", kDbOpenDynaset);
    EXPECT_EQ(table->Field("InfoKey"), FieldValue(std::string("Other")));
    table->Close();

    EXPECT_EQ(ErrorOf([&] {
                  database->OpenRecordset(
                      "SELECT InfoKey, InfoValue From DB情報 WHERE InfoKey='Version';",
                      kDbOpenSnapshot);
              }),
              kErrEngineTableMissing);
    EXPECT_EQ(ErrorOf([&] { database->OpenRecordset("TZs_オプション設定", kDbOpenSnapshot); }),
              kErrEngineTableMissing);
    database->Close();
}

TEST_F(DaoPort, BofAndEofAreBothTrueOnlyForNoRow) {
    auto database = Engine().OpenDatabase(OptionsDatabase());
    auto empty = database->OpenRecordset("Empty", kDbOpenSnapshot);
    EXPECT_TRUE(empty->Bof());
    EXPECT_TRUE(empty->Eof());
    auto rows = database->OpenRecordset("TZs_オプション設定", kDbOpenSnapshot);
    EXPECT_FALSE(rows->Bof());
    EXPECT_FALSE(rows->Eof());
    auto none = database->OpenRecordset("SELECT pwd From TZs_オプション設定 WHERE pwd='absent';",
                                        kDbOpenSnapshot);
    EXPECT_TRUE(none->Bof() && none->Eof());
    EXPECT_EQ(ErrorOf([&] { none->Field("pwd"); }), kErrEngineNoCurrentRecord);
    database->Close();
}

TEST_F(DaoPort, FieldValuesKeepTheirKind) {
    const std::string path = dir_ / "kinds.mdb";
    WriteDatabase(
        path, Store{{Table{"Kinds",
                           {"nothing", "text", "number", "real"},
                           {{daofake::Null{}, std::string("ペロリン|\\"), int32_t{-42}, 2.5}}}}});
    auto database = Engine().OpenDatabase(path);
    auto row = database->OpenRecordset("Kinds", kDbOpenSnapshot);
    EXPECT_EQ(row->Field("nothing"), FieldValue(Null{}));
    EXPECT_EQ(row->Field("TEXT"), FieldValue(std::string("ペロリン|\\")));
    EXPECT_EQ(row->Field("number"), FieldValue(int64_t{-42}));
    EXPECT_EQ(row->Field("real"), FieldValue(2.5));
    EXPECT_EQ(ErrorOf([&] { row->Field("missing"); }), kErrEngineItemNotFound);
    row->Close();
    database->Close();
}

TEST_F(DaoPort, AnEditedRowIsWrittenToTheFileByUpdate) {
    const std::string path = OptionsDatabase();
    auto database = Engine().OpenDatabase(path);
    auto options = database->OpenRecordset("TZs_オプション設定", kDbOpenDynaset);
    options->Edit();
    options->SetField("pwd", std::string("新しい"));
    options->SetField("note", int64_t{12});
    options->SetField("id", Null{});
    options->Update(kDbUpdateRegular);
    options->Close();
    database->Close();

    const Store written = ReadDatabase(path);
    ASSERT_EQ(written.tables.size(), 2u);
    const Table& table = written.tables[0];
    ASSERT_EQ(table.rows.size(), 2u);
    EXPECT_EQ(table.rows[0],
              (std::vector<daofake::Value>{daofake::Null{}, std::string("新しい"), int32_t{12}}));
    EXPECT_EQ(table.rows[1][1], daofake::Value(std::string("second")));
}

TEST_F(DaoPort, WritesOutsideAnEditAreRefused) {
    const std::string path = OptionsDatabase();
    const std::string before = test::ReadText(path);
    auto database = Engine().OpenDatabase(path);
    auto options = database->OpenRecordset("TZs_オプション設定", kDbOpenDynaset);
    EXPECT_EQ(ErrorOf([&] { options->SetField("pwd", std::string("x")); }), kErrEngineNotEditing);
    EXPECT_EQ(ErrorOf([&] { options->Update(kDbUpdateRegular); }), kErrEngineNotEditing);
    auto snapshot = database->OpenRecordset("TZs_オプション設定", kDbOpenSnapshot);
    EXPECT_EQ(ErrorOf([&] { snapshot->Edit(); }), kErrEngineReadOnly);
    options->Edit();
    EXPECT_EQ(ErrorOf([&] { options->SetField("missing", std::string("x")); }),
              kErrEngineItemNotFound);
    database->Close();
    EXPECT_EQ(test::ReadText(path), before);
}

TEST_F(DaoPort, ClosedObjectsCannotBeUsed) {
    auto database = Engine().OpenDatabase(OptionsDatabase());
    auto first = database->OpenRecordset("TZs_オプション設定", kDbOpenSnapshot);
    auto second = database->OpenRecordset("TZs_オプション設定", kDbOpenSnapshot);
    first->Close();
    EXPECT_NE(ErrorOf([&] { first->Eof(); }), 0);
    EXPECT_FALSE(second->Eof());
    database->Close();
    EXPECT_NE(ErrorOf([&] { second->Field("pwd"); }), 0);
    EXPECT_NE(ErrorOf([&] { database->OpenRecordset("Empty", kDbOpenSnapshot); }), 0);
}

// The engine raises its errors as DAO does: the number in the low word of the scode.
TEST(DaoErrorNumbers, AreReadFromTheExceptionRecord) {
    EXCEPINFO info{};
    info.scode = static_cast<SCODE>(0x800A0C1E);
    EXPECT_EQ(ComErrorNumber(DISP_E_EXCEPTION, &info), 3102);
    info.scode = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, kErrEngineTableMissing);
    EXPECT_EQ(ComErrorNumber(DISP_E_EXCEPTION, &info), kErrEngineTableMissing);
    info.wCode = 3265;
    EXPECT_EQ(ComErrorNumber(DISP_E_EXCEPTION, &info), 3265);
}

// COM counts in 32 bits on 64-bit Windows too: a larger blob must be refused, not cut short
// (and then overrun). Only a 64-bit size can hold one; the largest 32-bit one still fits.
TEST(DaoValues, SizesBeyondWhatComCountsAreAnOverflow) {
    EXPECT_EQ(ComCount(0xFFFFFFFFu), 0xFFFFFFFFu);
    const size_t largest = std::numeric_limits<size_t>::max();
    EXPECT_EQ(ErrorOf([&] { ComCount(largest); }), sizeof(size_t) > 4 ? kErrOverflow : 0);
}

// Unregisters the stand-in in this process's prefix for the life of the object.
class Unregistered {
  public:
    Unregistered() {
        module_ = LoadLibraryW(W(test::BinFolder() + "\\p2_dao_fake.dll").c_str());
        if (module_) {
            unregister_ = reinterpret_cast<Entry>(
                reinterpret_cast<void*>(GetProcAddress(module_, "DllUnregisterServer")));
            register_ = reinterpret_cast<Entry>(
                reinterpret_cast<void*>(GetProcAddress(module_, "DllRegisterServer")));
        }
        active = unregister_ && register_ && SUCCEEDED(unregister_());
    }
    ~Unregistered() {
        if (register_) {
            register_();
        }
        if (module_) {
            FreeLibrary(module_);
        }
    }
    Unregistered(const Unregistered&) = delete;
    Unregistered& operator=(const Unregistered&) = delete;
    bool active = false;

  private:
    using Entry = HRESULT(STDAPICALLTYPE*)();
    HMODULE module_ = nullptr;
    Entry unregister_ = nullptr;
    Entry register_ = nullptr;
};

TEST(DaoEngineCreation, WithoutTheClassRegisteredTheEngineCannotBeCreated) {
    REQUIRE_ENGINE();
    {
        Unregistered unregistered;
        ASSERT_TRUE(unregistered.active);
        ASSERT_FALSE(EngineRegistered());
        Win32DatabaseService service;
        EXPECT_EQ(ErrorOf([&] { service.Engine(); }), kErrCannotCreateObject);
    }
    EXPECT_TRUE(EngineRegistered());
}

}  // namespace
}  // namespace p2::win32
