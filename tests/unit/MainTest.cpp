// The start from end to end on a fake machine: every exit, message and the order of the steps.
#include <gtest/gtest.h>

#include "FakePorts.h"
#include "launch/AppExecute.h"
#include "launcher/Main.h"
#include "platform/ErrorCatalogue.h"

namespace p2 {
namespace {

using fake::FileEntry;
using fake::Fixture;

constexpr const char* kAccess = "C:\\Office\\MSACCESS.EXE";

class MainSequence : public ::testing::Test {
  protected:
    void SetUp() override {
        f.m.registryValues[std::string(kAccessCommandKeyForTest()) + "|"] =
            std::string("\"") + kAccess + "\" /NOSTARTUP \"%1\"";
        f.m.Put("C:\\P2\\Prog\\main.mdb");
    }
    static const char* kAccessCommandKeyForTest() {
        return "Access.Application.10\\shell\\open\\command";
    }
    bool Logged(const std::string& entry) const {
        return std::find(f.m.log.begin(), f.m.log.end(), entry) != f.m.log.end();
    }
    bool AnyLogStartsWith(const std::string& prefix) const {
        return std::any_of(f.m.log.begin(), f.m.log.end(),
                           [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
    }
    Fixture f;
};

TEST_F(MainSequence, TypicalStartRunsEveryStepInOrderAndStartsAccess) {
    f.m.argumentText = "main.mdb";
    Main(f.ports);

    EXPECT_EQ(f.m.title, "ペロリンⅡ");
    EXPECT_TRUE(f.m.boxes.empty());
    ASSERT_EQ(f.m.started.size(), 1u);
    const std::vector<std::string> expected{"SetTitle",
                                            "PrevInstance",
                                            "OpenKey SYSTEM",
                                            "CloseKey 1",
                                            "CreateShell",
                                            "ReleaseShell",
                                            "ListFiles C:\\P2\\SYSTEM\\UPDATE",
                                            "ListFiles C:\\P2\\LAN\\UPDATE",
                                            "OpenKey Access.Application.10\\shell\\open\\command",
                                            "CloseKey 2",
                                            "Shell"};
    EXPECT_EQ(f.m.log, expected);
}

TEST_F(MainSequence, PreviousInstanceEndsSilentlyBeforeAnythingElse) {
    f.m.prevInstance = true;
    f.m.argumentText = "main.mdb";
    Main(f.ports);
    EXPECT_EQ(f.m.log, (std::vector<std::string>{"SetTitle", "PrevInstance"}));
    EXPECT_TRUE(f.m.boxes.empty());
}

TEST_F(MainSequence, RefusedProbeShowsRestrictedAccountMessageAndChangesNothing) {
    f.m.probeResult = kRegAccessDenied;
    f.m.argumentText = "main.mdb";
    f.m.Put("C:\\ProgramData\\Startup\\P2Installation.lnk");
    f.m.Put("C:\\P2\\SYSTEM\\UPDATE\\a.txt", fake::PlainFile(5));
    Main(f.ports);

    ASSERT_EQ(f.m.boxes.size(), 1u);
    EXPECT_EQ(f.m.boxes[0].text, RestrictedAccountMessage());
    EXPECT_EQ(f.m.boxes[0].style, kStyleExclamation);
    EXPECT_FALSE(Logged("CloseKey 1")) << "no handle is closed on the refused path";
    EXPECT_FALSE(Logged("CreateShell"));
    EXPECT_FALSE(AnyLogStartsWith("ListFiles"));
    EXPECT_TRUE(f.m.Find("C:\\ProgramData\\Startup\\P2Installation.lnk"));
    EXPECT_TRUE(f.m.Find("C:\\P2\\SYSTEM\\UPDATE\\a.txt"));
    EXPECT_TRUE(f.m.started.empty());
}

TEST_F(MainSequence, AnyNonZeroProbeResultIsRefused) {
    f.m.probeResult = kRegFileNotFound;
    Main(f.ports);
    ASSERT_EQ(f.m.boxes.size(), 1u);
    EXPECT_EQ(f.m.boxes[0].text, RestrictedAccountMessage());
}

TEST_F(MainSequence, TargetMissingShowsNotFoundAndStartsNothing) {
    f.m.argumentText = "other.mdb";
    Main(f.ports);
    ASSERT_EQ(f.m.boxes.size(), 1u);
    EXPECT_EQ(f.m.boxes[0].text, "対象のファイルがみつかりません。処理を終了します。");
    EXPECT_EQ(f.m.boxes[0].style, kStyleExclamation);
    EXPECT_TRUE(f.m.started.empty());
}

TEST_F(MainSequence, FolderHiddenAndSystemTargetsAreNotFound) {
    for (auto entry : {fake::Folder(), fake::Hidden(), fake::System()}) {
        Fixture g;
        g.m.Put("C:\\P2\\Prog\\x.mdb", entry);
        g.m.argumentText = "x.mdb";
        Main(g.ports);
        ASSERT_EQ(g.m.boxes.size(), 1u);
        EXPECT_EQ(g.m.boxes[0].text, kNotFoundMessage);
        EXPECT_TRUE(g.m.started.empty());
    }
}

TEST_F(MainSequence, EmptyTargetIsNotFoundWhateverTheLookupSays) {
    // Even a lookup that answers for the bare folder path must not make an empty name found.
    f.m.lookupAnswer["C:\\P2\\Prog\\"] = "Prog";
    for (const char* args : {"", "\"\""}) {
        f.m.boxes.clear();
        f.m.argumentText = args;
        Main(f.ports);
        ASSERT_EQ(f.m.boxes.size(), 1u) << args;
        EXPECT_EQ(f.m.boxes[0].text, kNotFoundMessage);
    }
    EXPECT_TRUE(f.m.started.empty());
}

TEST_F(MainSequence, UnclosedQuoteShowsErrorFiveWithMainTag) {
    f.m.argumentText = "\"main.mdb";
    Main(f.ports);
    ASSERT_EQ(f.m.boxes.size(), 1u);
    EXPECT_EQ(f.m.boxes[0].text, ErrorBoxText(5, "mMain-Main"));
    EXPECT_EQ(f.m.boxes[0].style, kStyleCritical);
    EXPECT_TRUE(f.m.started.empty());
}

TEST_F(MainSequence, FailureRaisedInMainIsReportedWithMainTagAndEnds) {
    f.m.argumentText = "main.mdb";
    f.m.failLookup["C:\\P2\\Prog\\main.mdb"] = 52;
    Main(f.ports);
    ASSERT_EQ(f.m.boxes.size(), 1u);
    EXPECT_EQ(f.m.boxes[0].text, ErrorBoxText(52, "mMain-Main"));
    EXPECT_TRUE(f.m.started.empty());
}

TEST_F(MainSequence, FailedSystemPassSkipsLanPassAndLaunch) {
    f.m.argumentText = "main.mdb";
    f.m.Put("C:\\P2\\SYSTEM\\UPDATE\\a.txt", fake::PlainFile(9));
    f.m.failMoveFrom.insert("C:\\P2\\SYSTEM\\UPDATE\\a.txt");
    Main(f.ports);
    EXPECT_FALSE(Logged("ListFiles C:\\P2\\LAN\\UPDATE"));
    EXPECT_TRUE(f.m.started.empty());
    ASSERT_EQ(f.m.boxes.size(), 1u);
}

TEST_F(MainSequence, FailedLanPassSkipsLaunch) {
    f.m.argumentText = "main.mdb";
    f.m.Put("C:\\P2\\LAN\\UPDATE\\a.txt", fake::PlainFile(9));
    f.m.failMoveFrom.insert("C:\\P2\\LAN\\UPDATE\\a.txt");
    Main(f.ports);
    EXPECT_TRUE(Logged("ListFiles C:\\P2\\SYSTEM\\UPDATE"));
    EXPECT_TRUE(f.m.started.empty());
}

TEST_F(MainSequence, HeldLockFileEndsSilently) {
    f.m.argumentText = "main.mdb";
    f.m.Put("C:\\P2\\Prog\\main.ldb", fake::Held());
    Main(f.ports);
    EXPECT_TRUE(f.m.boxes.empty());
    EXPECT_TRUE(f.m.started.empty());
    EXPECT_TRUE(f.m.Find("C:\\P2\\Prog\\main.ldb"));
}

TEST_F(MainSequence, StaleLockFileIsClearedAndAccessStarts) {
    f.m.argumentText = "main.mdb";
    f.m.Put("C:\\P2\\Prog\\main.ldb");
    Main(f.ports);
    EXPECT_FALSE(f.m.Find("C:\\P2\\Prog\\main.ldb"));
    EXPECT_EQ(f.m.started.size(), 1u);
}

TEST_F(MainSequence, FailureInLockCheckIsReportedAndAccessStillStarts) {
    f.m.argumentText = "main.mdb";
    f.m.failLookup["C:\\P2\\Prog\\main.ldb"] = 75;
    Main(f.ports);
    ASSERT_EQ(f.m.boxes.size(), 1u);
    EXPECT_EQ(f.m.boxes[0].text, ErrorBoxText(75, "mMain-CheckLdbFile"));
    EXPECT_EQ(f.m.started.size(), 1u);
}

TEST_F(MainSequence, FailedShortcutRemovalDoesNotStopTheStart) {
    f.m.argumentText = "main.mdb";
    f.m.failCreateShell = 429;
    Main(f.ports);
    ASSERT_EQ(f.m.boxes.size(), 1u);
    EXPECT_EQ(f.m.boxes[0].text, ErrorBoxText(429, "mMain-DeleteStartupShortcut"));
    EXPECT_EQ(f.m.started.size(), 1u);
}

TEST_F(MainSequence, TargetPathIsBuiltFromProgramFolderWhateverFolderTheArgumentNamed) {
    f.m.argumentText = "\"D:\\Elsewhere\\main.mdb\" /extra";
    Main(f.ports);
    ASSERT_EQ(f.m.started.size(), 1u);
    EXPECT_NE(f.m.started[0].find("/Runtime \"C:\\P2\\Prog\\main.mdb\""), std::string::npos);
}

TEST(RestrictedAccountMessage, IsJoinedFromItsPieces) {
    const std::string expected =
        std::string("このアプリケーションは 「制限付きアカウント」 では実行できません。") +
        "\r\n\r\n" + "詳しくは、［スタート］⇒［すべてのプログラム］⇒［" + "ペロリンⅡ" +
        "］⇒［ツール］にあります「管理者アカウントについて」をご覧ください。" + "\r\n" +
        "「管理者アカウントの設定について」が見つからない場合は、ペロリンⅡホームページ内の「"
        "よくあるご質問とその回答」をご覧ください。" +
        "\r\n\r\n" + "ペロリンⅡホームページURL" + "\xE3\x80\x80" + kHomePageUrl;
    EXPECT_EQ(RestrictedAccountMessage(), expected);
}

struct TargetCase {
    const char* argumentText;
    const char* targetName;
};

class TargetNameDerivation : public ::testing::TestWithParam<TargetCase> {};

TEST_P(TargetNameDerivation, CutsQuotesAndFolders) {
    EXPECT_EQ(TargetName(GetParam().argumentText), GetParam().targetName);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TargetNameDerivation,
    ::testing::Values(TargetCase{"", ""}, TargetCase{"\"\"", ""},
                      TargetCase{"main.mdb", "main.mdb"},
                      TargetCase{"\"C:\\App Dir\\main.mdb\"", "main.mdb"},
                      TargetCase{"\"C:\\App Dir\\main.mdb\" /x \"y\"", "main.mdb"},
                      TargetCase{"main.mdb -x", "main.mdb -x"}, TargetCase{"main.mdb /x", "x"},
                      TargetCase{"sub\\main.mdb", "main.mdb"},
                      TargetCase{"  \"C:\\App\\main.mdb\"", "main.mdb\""},
                      TargetCase{"  main.mdb  ", "  main.mdb  "},
                      // Both separators end a folder part, so nothing outside the program
                      // folder can be named.
                      TargetCase{"../../etc/passwd", "passwd"},
                      TargetCase{"\"/etc/x\\..\\y/main.mdb\"", "main.mdb"}, TargetCase{"dir/", ""},
                      TargetCase{"\"a\"b\"", "a"}));

TEST(TargetNameDerivation, OpeningQuoteWithoutClosingOneIsInvalidArgument) {
    for (const char* text : {"\"", "\"main.mdb", "\"C:\\App\\main.mdb /x"}) {
        try {
            TargetName(text);
            ADD_FAILURE() << text;
        } catch (const AppError& e) {
            EXPECT_EQ(e.number(), 5) << text;
        }
    }
}

}  // namespace
}  // namespace p2
