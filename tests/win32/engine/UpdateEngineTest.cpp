// The update pass's database work (probe, version stamp, settings carry-over) through the real
// Windows ports, with the stand-in engine behind the DAO port.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "EngineTestSupport.h"
#include "launcher/Workgroup.h"
#include "platform/Error.h"
#include "platform/ErrorCatalogue.h"
#include "platform/win32/Ports_win32.h"
#include "update/CarryOver.h"
#include "update/CheckAcFile.h"
#include "update/FileUpdate.h"
#include "update/GetP2S_VerInfo.h"

namespace p2::win32 {
namespace {

namespace daofake = p2::daofake;
using test::ReadDatabase;
using test::SetAttributes;
using test::StampDatabase;
using test::Store;
using test::Table;
using test::TempFolder;
using test::W;
using test::WriteDatabase;
using test::WriteText;
using test::WriteWorkgroup;

// The real application port with the program folder moved into the test's folder and every
// box recorded (under Wine without a display a box returns at once).
class RecordingApplication final : public Application {
  public:
    explicit RecordingApplication(std::string programFolder)
        : programFolder_(std::move(programFolder)) {}
    void SetTitle(const std::string& title) override { real_.SetTitle(title); }
    bool PrevInstance() override { return real_.PrevInstance(); }
    std::string ProgramFolder() override { return programFolder_; }
    std::string ArgumentText() override { return real_.ArgumentText(); }
    void MessageBox(const std::string& text, MessageStyle style) override {
        boxes.push_back({text, style});
        real_.MessageBox(text, style);
    }
    std::vector<std::pair<std::string, MessageStyle>> boxes;

  private:
    Win32Application real_;
    std::string programFolder_;
};

bool EngineRegistered() {
    CLSID clsid{};
    return SUCCEEDED(CLSIDFromProgID(L"DAO.DBEngine.36", &clsid));
}

class UpdateEngine : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!EngineRegistered()) {
            GTEST_SKIP() << "no DAO.DBEngine.36 registered in this Wine prefix";
        }
        CreateDirectoryW(W(Program()).c_str(), nullptr);
        WriteWorkgroup(Program() + "\\" + kWorkgroupFileName, GetWorkgroupUser(),
                       GetWorkgroupPassword());
    }

    std::string Program() const { return dir_ / "P2"; }
    std::vector<std::pair<std::string, MessageStyle>> Box(int32_t number,
                                                          const std::string& tag) const {
        return {{ErrorBoxText(number, tag), kStyleCritical}};
    }
    int32_t Stamp(const test::Value& stamp, const std::string& table = "T00_製品情報") {
        const std::string path = dir_ / "stamp.mdb";
        WriteDatabase(path, StampDatabase(table, stamp));
        return GetP2S_VerInfo(ports_, path);
    }

    TempFolder dir_;
    RecordingApplication app_{Program()};
    Win32Files files_;
    Win32Registry registry_;
    Win32ShellFileOperation shell_;
    Win32ScriptHost scriptHost_;
    Win32Process process_;
    Win32DatabaseService database_;
    Ports ports_{app_, files_, registry_, shell_, scriptHost_, process_, database_};
};

TEST_F(UpdateEngine, ProbeTellsDatabasesFromOtherFiles) {
    WriteDatabase(dir_ / "app.mdb", Store{});
    EXPECT_EQ(CheckAcFile(ports_, dir_ / "app.mdb"), 1);
    WriteDatabase(dir_ / "hidden.mdb", Store{});
    SetAttributes(dir_ / "hidden.mdb", FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(CheckAcFile(ports_, dir_ / "hidden.mdb"), 1);
    WriteText(dir_ / "readme.txt", "plain");
    EXPECT_EQ(CheckAcFile(ports_, dir_ / "readme.txt"), 0);
    EXPECT_EQ(CheckAcFile(ports_, dir_ / "missing.mdb"), -1);
    WriteDatabase(dir_ / "system.mdb", Store{});
    SetAttributes(dir_ / "system.mdb", FILE_ATTRIBUTE_SYSTEM);
    EXPECT_EQ(CheckAcFile(ports_, dir_ / "system.mdb"), -1);
    EXPECT_TRUE(app_.boxes.empty());
}

TEST_F(UpdateEngine, ProbeAnswersZeroWhenTheWorkgroupRefusesEveryOpen) {
    WriteDatabase(dir_ / "app.mdb", Store{});
    WriteWorkgroup(Program() + "\\" + kWorkgroupFileName, GetWorkgroupUser(), "other");
    EXPECT_EQ(CheckAcFile(ports_, dir_ / "app.mdb"), 0);
    DeleteFileW(W(Program() + "\\" + kWorkgroupFileName).c_str());
    EXPECT_EQ(CheckAcFile(ports_, dir_ / "app.mdb"), 0);
    EXPECT_TRUE(app_.boxes.empty());
}

TEST_F(UpdateEngine, StampsReadAsNumbers) {
    EXPECT_EQ(Stamp(std::string("AB123")), 123);
    EXPECT_EQ(Stamp(std::string("XY007")), 7);
    EXPECT_EQ(Stamp(daofake::Null{}), 0);
    EXPECT_EQ(Stamp(std::string("250"), "DB情報"), 250);
    EXPECT_EQ(Stamp(int32_t{42}), 42);
    EXPECT_TRUE(app_.boxes.empty());
}

TEST_F(UpdateEngine, TheCurrentStampTableWinsOverTheOlderOne) {
    const std::string path = dir_ / "both.mdb";
    Store both = StampDatabase("DB情報", std::string("900"));
    both.tables.push_back(StampDatabase("T00_製品情報", std::string("AB005")).tables[0]);
    WriteDatabase(path, both);
    EXPECT_EQ(GetP2S_VerInfo(ports_, path), 5);
}

TEST_F(UpdateEngine, MissingStampsAreNotReported) {
    const std::string path = dir_ / "nostamp.mdb";
    WriteDatabase(path, Store{{Table{"Other", {"x"}, {}}}});
    EXPECT_EQ(GetP2S_VerInfo(ports_, path), 0);
    WriteDatabase(path, Store{{Table{"T00_製品情報",
                                     {"InfoKey", "InfoValue"},
                                     {{std::string("Build"), std::string("AB123")}}}}});
    EXPECT_EQ(GetP2S_VerInfo(ports_, path), -1);
    EXPECT_EQ(GetP2S_VerInfo(ports_, dir_ / "missing.mdb"), -1);
    EXPECT_TRUE(app_.boxes.empty());
}

TEST_F(UpdateEngine, UnreadableStampsAreReportedWithTheReadersTag) {
    WriteText(dir_ / "plain.mdb", "plain text");
    EXPECT_EQ(CheckAcFile(ports_, dir_ / "plain.mdb"), 0);
    EXPECT_TRUE(app_.boxes.empty());
    EXPECT_EQ(GetP2S_VerInfo(ports_, dir_ / "plain.mdb"), -1);
    EXPECT_EQ(app_.boxes, Box(kErrEngineNotDatabase, "mMain-GetP2S_VerInfo"));

    app_.boxes.clear();
    EXPECT_EQ(Stamp(std::string("ab123")), -1);
    EXPECT_EQ(app_.boxes, Box(kErrTypeMismatch, "mMain-GetP2S_VerInfo"));
}

// The settings database of an installation folder with a delivery of its new version.
class SettingsCarryOver : public UpdateEngine {
  protected:
    static Store Settings(const std::string& stamp, std::vector<std::vector<test::Value>> rows) {
        Store store = StampDatabase("T00_製品情報", stamp);
        store.tables.push_back(Table{kOptionTable, {"id", kOptionPasswordField}, rows});
        return store;
    }
    std::string Folder() const { return dir_ / "SYSTEM"; }
    std::string Installed() const { return Folder() + "\\" + kSettingsDatabaseName; }
    std::string Incoming() const {
        return Folder() + "\\" + kUpdateFolderName + "\\" + kSettingsDatabaseName;
    }
    void Deliver(const Store& installed, const Store& incoming) {
        CreateDirectoryW(W(Folder()).c_str(), nullptr);
        CreateDirectoryW(W(Folder() + "\\" + kUpdateFolderName).c_str(), nullptr);
        WriteDatabase(Installed(), installed);
        WriteDatabase(Incoming(), incoming);
    }
};

TEST_F(SettingsCarryOver, ANewerVersionKeepsTheUsersPassword) {
    Deliver(Settings("AB001", {{int32_t{1}, std::string("ユーザーの")}}),
            Settings("AB002",
                     {{int32_t{1}, std::string("shipped")}, {int32_t{2}, std::string("row two")}}));
    EXPECT_TRUE(FileUpdate(ports_, Folder()));
    EXPECT_FALSE(test::Exists(Incoming()));
    const Store result = ReadDatabase(Installed());
    ASSERT_EQ(result.tables.size(), 2u);
    EXPECT_EQ(result.tables[0].rows[0][1], test::Value(std::string("AB002")));
    EXPECT_EQ(result.tables[1].rows,
              (std::vector<std::vector<test::Value>>{{int32_t{1}, std::string("ユーザーの")},
                                                     {int32_t{2}, std::string("row two")}}));
    EXPECT_TRUE(app_.boxes.empty());
}

TEST_F(SettingsCarryOver, ANullPasswordIsCarriedAsNull) {
    Deliver(Settings("AB001", {{int32_t{1}, daofake::Null{}}}),
            Settings("AB002", {{int32_t{1}, std::string("shipped")}}));
    EXPECT_TRUE(FileUpdate(ports_, Folder()));
    EXPECT_EQ(ReadDatabase(Installed()).tables[1].rows[0][1], test::Value(daofake::Null{}));
}

TEST_F(SettingsCarryOver, AnOlderVersionIsDiscarded) {
    const Store installed = Settings("AB003", {{int32_t{1}, std::string("mine")}});
    Deliver(installed, Settings("AB002", {{int32_t{1}, std::string("shipped")}}));
    EXPECT_TRUE(FileUpdate(ports_, Folder()));
    EXPECT_FALSE(test::Exists(Incoming()));
    EXPECT_EQ(test::ReadText(Installed()), installed.Text());
}

TEST_F(SettingsCarryOver, AnIncomingCopyWithoutTheTableStaysForTheNextStart) {
    const Store installed = Settings("AB001", {{int32_t{1}, std::string("mine")}});
    Deliver(installed, StampDatabase("T00_製品情報", std::string("AB002")));
    EXPECT_FALSE(FileUpdate(ports_, Folder()));
    EXPECT_EQ(app_.boxes, Box(kErrEngineTableMissing, "mMain-FileUpdate"));
    EXPECT_TRUE(test::Exists(Incoming()));
    EXPECT_EQ(test::ReadText(Installed()), installed.Text());
}

}  // namespace
}  // namespace p2::win32
