// The program's probe and stamp reader on real databases through the engine, under the
// program's own workgroup account.
#include <sys/stat.h>

#include <filesystem>
#include <vector>

#include "launcher/Workgroup.h"
#include "posix/engine/EngineFixture.h"
#include "update/CarryOver.h"
#include "update/CheckAcFile.h"
#include "update/GetP2S_VerInfo.h"

namespace p2::posix::test {
namespace {

struct Box {
    std::string text;
    MessageStyle style;
};

class RecordingApplication final : public Application {
  public:
    void SetTitle(const std::string&) override {}
    bool PrevInstance() override { return false; }
    std::string ProgramFolder() override { return folder; }
    std::string ArgumentText() override { return {}; }
    void MessageBox(const std::string& text, MessageStyle style) override {
        boxes.push_back({text, style});
    }
    std::string folder;
    std::vector<Box> boxes;
};

class StatFiles final : public Files {
  public:
    char Separator() const override { return '/'; }
    std::string Lookup(const std::string& path, int) override {
        struct stat info {};
        if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            return {};
        }
        return std::filesystem::path(path).filename().string();
    }
    std::vector<std::string> ListFiles(const std::string&) override { return {}; }
    int64_t ModificationTime(const std::string&) override { return 0; }
    void DeleteFile(const std::string&) override {}
};

class Unused final : public Registry, public ShellFileOperation, public ScriptHost, public Process {
  public:
    long OpenKey(uint32_t, const std::string&, uint32_t, RegKey&) override { return 2; }
    long QueryValue(RegKey, const std::string&, uint32_t&, unsigned char*, uint32_t&) override {
        return 2;
    }
    long CloseKey(RegKey) override { return 0; }
    std::string DecodeText(std::string_view bytes) override { return std::string(bytes); }
    int32_t Run(const FileOpRequest&) override { return 1; }
    std::unique_ptr<ScriptShell> CreateShell() override { throw AppError(429); }
    int64_t Shell(const std::string&, WindowStyle) override { throw AppError(53); }
};

// The program folder holds Pelorin2.wgf with the program's own account.
class CoreOnEngine : public EngineFixture {
  protected:
    void SetUp() override {
        EngineFixture::SetUp();
        app_.folder = dir_;
        AddWorkgroupAccount(wgf_, GetWorkgroupUser(), GetWorkgroupPassword());
    }

    RecordingApplication app_;
    StatFiles files_;
    Unused unused_;
    Ports ports_{app_, files_, unused_, unused_, unused_, unused_, service_};
};

TEST_F(CoreOnEngine, ProbeAnswersOneForADatabase) {
    const std::string db = MakeDatabase("a.mdb", "CREATE TABLE t (v);");
    const auto listing = Listing();
    EXPECT_EQ(CheckAcFile(ports_, db), 1);
    EXPECT_EQ(Listing(), listing);
    EXPECT_TRUE(app_.boxes.empty());
}

TEST_F(CoreOnEngine, ProbeAnswersZeroForWhatDoesNotOpen) {
    EXPECT_EQ(CheckAcFile(ports_, MakeFile("t.txt", "just text\n")), 0);
    EXPECT_EQ(CheckAcFile(ports_, MakeFile("e.mdb", "")), 0);
    const std::string secured = MakeDatabase("s.mdb", "CREATE TABLE t (v);");
    SecureDatabase(secured, {"someone"});
    EXPECT_EQ(CheckAcFile(ports_, secured), 0);
    EXPECT_TRUE(app_.boxes.empty());
}

TEST_F(CoreOnEngine, ProbeAnswersMinusOneForNoFile) {
    EXPECT_EQ(CheckAcFile(ports_, Path("missing.mdb")), -1);
    EXPECT_EQ(CheckAcFile(ports_, dir_), -1);
    EXPECT_TRUE(app_.boxes.empty());
}

TEST_F(CoreOnEngine, WithoutAWorkgroupFileEveryFileAnswersZero) {
    std::filesystem::remove(wgf_);
    const std::string db = MakeDatabase("a.mdb", "CREATE TABLE t (v);");
    EXPECT_EQ(CheckAcFile(ports_, db), 0);
    EXPECT_EQ(GetP2S_VerInfo(ports_, db), -1);
    ASSERT_EQ(app_.boxes.size(), 1u);
    EXPECT_NE(app_.boxes[0].text.find("3028"), std::string::npos);
}

struct StampCase {
    const char* name;
    std::string sql;
    int32_t result;
    bool box;
};

class StampReading : public CoreOnEngine, public ::testing::WithParamInterface<StampCase> {};

TEST_P(StampReading, ReadsTheStampAsTheProgramDoes) {
    const std::string db = MakeDatabase("s.mdb", GetParam().sql);
    EXPECT_EQ(GetP2S_VerInfo(ports_, db), GetParam().result);
    ASSERT_EQ(app_.boxes.size(), GetParam().box ? 1u : 0u);
    if (GetParam().box) {
        EXPECT_EQ(app_.boxes[0].style, kStyleCritical);
        EXPECT_NE(app_.boxes[0].text.find("mMain-GetP2S_VerInfo"), std::string::npos);
    }
}

std::string Table(const std::string& table, const std::string& rows) {
    return "CREATE TABLE " + table + " (InfoKey TEXT, InfoValue);" +
           (rows.empty() ? "" : "INSERT INTO " + table + " VALUES " + rows + ";");
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, StampReading,
    ::testing::Values(
        StampCase{"LetterStamp", Table("T00_製品情報", "('Version', 'AB123')"), 123, false},
        StampCase{"LeadingZeros", Table("T00_製品情報", "('Version', 'XY007')"), 7, false},
        StampCase{"OlderLayoutOnly", Table("DB情報", "('Version', '250')"), 250, false},
        StampCase{"IntegerValue", Table("DB情報", "('Version', 250)"), 250, false},
        StampCase{"NullStamp", Table("T00_製品情報", "('Version', NULL)"), 0, false},
        StampCase{"ZeroText", Table("T00_製品情報", "('Version', '0')"), 0, false},
        StampCase{"LowerCaseLetters", Table("T00_製品情報", "('Version', 'ab123')"), -1, true},
        StampCase{"ThreeLetters", Table("T00_製品情報", "('Version', 'ABC12')"), -1, true},
        StampCase{"EmptyText", Table("T00_製品情報", "('Version', '')"), -1, true},
        StampCase{"NoMatchingRow", Table("T00_製品情報", "('Build', 'AB123')"), -1, false},
        StampCase{"NeitherTable", "CREATE TABLE other (v);", 0, false},
        StampCase{
            "BothTables",
            Table("T00_製品情報", "('Version', 'AB123')") + Table("DB情報", "('Version', '900')"),
            123, false},
        StampCase{"TableWithoutStampColumns",
                  "CREATE TABLE T00_製品情報 (a, b); CREATE TABLE DB情報 (InfoKey, InfoValue);"
                  "INSERT INTO DB情報 VALUES ('Version', '5');",
                  -1, true}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(CoreOnEngine, APlainTextFileGivesTheBoxAndMinusOne) {
    const std::string text = MakeFile("plain.mdb", "This is no database.\r\n");
    EXPECT_EQ(CheckAcFile(ports_, text), 0);
    EXPECT_EQ(GetP2S_VerInfo(ports_, text), -1);
    ASSERT_EQ(app_.boxes.size(), 1u);
    EXPECT_NE(app_.boxes[0].text.find("3343"), std::string::npos);
    EXPECT_NE(app_.boxes[0].text.find("mMain-GetP2S_VerInfo"), std::string::npos);
}

TEST_F(CoreOnEngine, AMissingFileReadsMinusOneWithoutABox) {
    EXPECT_EQ(GetP2S_VerInfo(ports_, Path("missing.mdb")), -1);
    EXPECT_TRUE(app_.boxes.empty());
}

TEST_F(CoreOnEngine, CarryOverCopiesThePasswordIntoTheIncomingCopy) {
    std::filesystem::create_directory(Path("UPDATE"));
    const std::string schema =
        "CREATE TABLE T00_製品情報 (InfoKey, InfoValue);"
        "CREATE TABLE TZs_オプション設定 (pwd, other);";
    const std::string installed = MakeDatabase(
        "maintenance.sys", schema +
                               "INSERT INTO T00_製品情報 VALUES ('Version', 'AB100');"
                               "INSERT INTO TZs_オプション設定 VALUES (x'00C0FF', 'old');");
    const std::string incoming = MakeDatabase(
        "UPDATE/maintenance.sys", schema +
                                      "INSERT INTO T00_製品情報 VALUES ('Version', 'AB101');"
                                      "INSERT INTO TZs_オプション設定 VALUES ('shipped', 'new');");
    const auto listing = Listing();

    EXPECT_EQ(CarryOverSettings(ports_, installed, incoming), Decision::kReplace);
    EXPECT_TRUE(app_.boxes.empty());
    EXPECT_EQ(Listing(), listing);

    auto database = Engine().OpenDatabase(incoming);
    auto rows = database->OpenRecordset("TZs_オプション設定", kDbOpenSnapshot);
    EXPECT_EQ(rows->Field("pwd"), FieldValue(Blob{0x00, 0xC0, 0xFF}));
    EXPECT_EQ(rows->Field("other"), FieldValue(std::string("new")));
}

}  // namespace
}  // namespace p2::posix::test
