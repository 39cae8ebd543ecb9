// The error box's text, the catalogue, the handler and the file-operation wrappers.
#include <gtest/gtest.h>

#include "FakePorts.h"
#include "launcher/ShowError.h"
#include "platform/ErrorCatalogue.h"
#include "platform/mSHFileOperation.h"

namespace p2 {
namespace {

using fake::Fixture;

TEST(ShowError, JoinsNumberTagAndStandardTextInAStopBox) {
    Fixture f;
    ShowError(f.ports, 53, "mMain-Main");
    ASSERT_EQ(f.m.boxes.size(), 1u);
    EXPECT_EQ(f.m.boxes[0].text, "ｴﾗｰNo. 53  【mMain-Main】\r\n\r\nファイルが見つかりません。");
    EXPECT_EQ(f.m.boxes[0].style, kStyleCritical);
}

TEST(ShowError, NegativeNumberKeepsItsSign) {
    EXPECT_EQ(ErrorBoxText(-2147467259, "mMain-X").substr(0, 24), "ｴﾗｰNo. -2147467259");
}

TEST(ErrorCatalogue, NumbersWithoutEntryGiveTheGenericText) {
    const std::string generic = StandardErrorText(123456);
    EXPECT_EQ(StandardErrorText(0), generic);
    EXPECT_EQ(StandardErrorText(-1), generic);
    EXPECT_EQ(StandardErrorText(3078), "指定されたテーブルまたはクエリが見つかりません。");
    // Every number the program or its ports raise has a text of its own.
    for (int32_t n : {5,    6,    7,    13,   51,   53,   70,   75,   76,   429,  445,  3020, 3021,
                      3024, 3027, 3028, 3029, 3033, 3045, 3051, 3078, 3260, 3265, 3343, 3420}) {
        EXPECT_NE(StandardErrorText(n), generic) << n;
    }
}

TEST(Handler, StandardLibraryFailuresAreReportedWithANumber) {
    Fixture f;
    Guarded(f.ports, "mMain-Main", [] { throw std::bad_alloc(); });
    Guarded(f.ports, "mMain-Main", [] { (void)std::string("ab").substr(5); });
    EXPECT_EQ(f.m.BoxTexts(), (std::vector<std::string>{ErrorBoxText(7, "mMain-Main"),
                                                        ErrorBoxText(5, "mMain-Main")}));
}

TEST(Handler, DisarmedHandlerLetsTheFailurePass) {
    Fixture f;
    HandlerSwitch handler;
    handler.SwitchOff();
    EXPECT_THROW(Guarded(
                     f.ports, "mMain-FileUpdate", [] { throw AppError(3078); }, handler),
                 AppError);
    EXPECT_TRUE(f.m.boxes.empty());
}

TEST(ShellFileOperations, MoveAndKillFillOneRecordWithOnePathEach) {
    Fixture f;
    f.m.Put("C:\\u\\a");
    EXPECT_EQ(SHMove(f.ports, "C:\\u\\a", "C:\\i\\a", kFileOpFlags), 0);
    EXPECT_EQ(f.shell.lastFlags, 20);
    EXPECT_TRUE(f.m.Find("C:\\i\\a"));
    EXPECT_NE(SHKill(f.ports, "C:\\u\\a", kFileOpFlags), 0) << "a missing path is a failure";
    EXPECT_EQ(SHKill(f.ports, "C:\\i\\a", kFileOpFlags), 0);
    EXPECT_FALSE(f.m.Find("C:\\i\\a"));
    EXPECT_TRUE(f.m.boxes.empty());
}

TEST(ShellFileOperations, RaisedErrorShowsTheModuleBoxAndIsNeverSuccess) {
    Fixture f;
    f.m.raiseInShell = 53;
    EXPECT_NE(SHMove(f.ports, "a", "b", kFileOpFlags), 0);
    EXPECT_NE(SHKill(f.ports, "a", kFileOpFlags), 0);
    const std::string standard = StandardErrorText(53);
    EXPECT_EQ(f.m.BoxTexts(),
              (std::vector<std::string>{
                  std::string("ｴﾗｰNo. ") + "53" + "  【mSHFileOperation-" + "SHMove" + "】" +
                      "\r\n\r\n" + standard,
                  std::string("ｴﾗｰNo. 53  【mSHFileOperation-SHKill】\r\n\r\n") + standard}));
    EXPECT_EQ(f.m.boxes[0].style, kStyleCritical);
}

}  // namespace
}  // namespace p2
