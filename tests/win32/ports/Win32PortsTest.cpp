// What only the Win32 ports answer: argument text, instance mutex, code pages, script host.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/mRegEdit.h"
#include "platform/mSHFileOperation.h"
#include "platform/win32/CommandLine_win32.h"
#include "platform/win32/Errors_win32.h"
#include "platform/win32/Text_win32.h"
#include "win32/Win32TestSupport.h"

namespace p2::win32 {
namespace {

using test::BinFolder;
using test::Child;
using test::HeldChild;
using test::ReadText;
using test::TempFolder;
using test::W;

int32_t ErrorNumberOfCall(const auto& call) {
    try {
        call();
    } catch (const AppError& e) {
        return e.number();
    }
    return 0;
}

// ---- Argument text and program folder --------------------------------------------------

TEST(ArgumentText, FollowsTheProgramNameAndOneBlank) {
    EXPECT_EQ(ArgumentsOf(L"\"C:\\P 2\\Pelorin2.exe\" \"a b.mdb\" x"), L"\"a b.mdb\" x");
    EXPECT_EQ(ArgumentsOf(L"C:\\P2\\Pelorin2.exe a.mdb"), L"a.mdb");
    EXPECT_EQ(ArgumentsOf(L"C:\\P2\\Pelorin2.exe\ta.mdb"), L"a.mdb");
    EXPECT_EQ(ArgumentsOf(L"\"C:\\P2\\Pelorin2.exe\""), L"");
    EXPECT_EQ(ArgumentsOf(L"Pelorin2.exe"), L"");
    EXPECT_EQ(ArgumentsOf(L"Pelorin2.exe "), L"");
    // Only one blank belongs to the separation: the rest is the argument text's own.
    EXPECT_EQ(ArgumentsOf(L"Pelorin2.exe   \"a.mdb\""), L"  \"a.mdb\"");
    EXPECT_EQ(ArgumentsOf(L"\"C:\\P2\\Pelorin2.exe\"  a"), L" a");
}

// Some scripts start the program by its path unquoted, blanks and all; the rest of the rule
// is the usual one, so only a start that is exactly the module's path is skipped.
TEST(ArgumentText, SkipsTheProgramsOwnPathWhenUnquoted) {
    const std::wstring module = L"C:\\Program Files\\ペロリン\\Pelorin2\\Pelorin2.exe";
    const struct {
        const wchar_t* commandLine;
        const wchar_t* expected;
    } cases[] = {
        {L"C:\\Program Files\\ペロリン\\Pelorin2\\Pelorin2.exe sales.mdb", L"sales.mdb"},
        {L"c:\\PROGRAM FILES\\ペロリン\\pelorin2\\PELORIN2.EXE  \"a b.mdb\"", L" \"a b.mdb\""},
        {L"C:\\Program Files\\ペロリン\\Pelorin2\\Pelorin2.exe", L""},
        {L"\"C:\\Program Files\\ペロリン\\Pelorin2\\Pelorin2.exe\" sales.mdb", L"sales.mdb"},
        // Not the module's path: the first blank ends the program's name, as before.
        {L"C:\\Program Files\\ペロリン\\Pelorin2\\Pelorin2.exe2 x",
         L"Files\\ペロリン\\Pelorin2\\Pelorin2.exe2 x"},
        {L"Pelorin2.exe sales.mdb", L"sales.mdb"},
        {L"C:\\Program", L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ArgumentsOf(c.commandLine, module), c.expected) << Narrow(c.commandLine);
    }
}

TEST(ArgumentText, ProgramNameIsTheFirstItem) {
    EXPECT_EQ(ProgramNameOf(L"\"C:\\Program Files\\MSACCESS.EXE\" /Runtime \"x\""),
              L"C:\\Program Files\\MSACCESS.EXE");
    EXPECT_EQ(ProgramNameOf(L"C:\\Office\\MSACCESS.EXE /Runtime"), L"C:\\Office\\MSACCESS.EXE");
    EXPECT_EQ(ProgramNameOf(L""), L"");
}

class StartedProgram : public ::testing::Test {
  protected:
    // The child's argument text and program folder, as it reports them.
    std::pair<std::string, std::string> Report(const std::wstring& arguments) {
        const std::string out = folder_ / "report.txt";
        Child child(L"\"" + W(BinFolder()) + L"\\p2_win32_helper.exe\"" + arguments,
                    {{L"P2_HELPER_MODE", L"report"}, {L"P2_HELPER_OUT", W(out)}});
        EXPECT_EQ(child.Wait(), 0);
        const std::string text = ReadText(out);
        const auto lf = text.find('\n');
        if (lf == std::string::npos) {
            return {};
        }
        return {text.substr(0, lf), text.substr(lf + 1)};
    }
    TempFolder folder_;
};

TEST_F(StartedProgram, SeesItsArgumentsAsTyped) {
    EXPECT_EQ(Report(L" \"Z:\\some folder\\x.mdb\" /more").first,
              "\"Z:\\some folder\\x.mdb\" /more");
    EXPECT_EQ(Report(L"").first, "");
    EXPECT_EQ(Report(L"   a.mdb").first, "  a.mdb");
    EXPECT_EQ(Report(L" ペロリン.mdb").first, "ペロリン.mdb");
}

TEST_F(StartedProgram, ProgramFolderIsTheExecutablesFolderWithoutSeparator) {
    const std::string folder = Report(L"").second;
    EXPECT_EQ(folder, BinFolder());
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '\\');
}

// ---- Previous instance -----------------------------------------------------------------

TEST(PreviousInstance, TrueOnlyWhileAnotherInstanceRuns) {
    {
        Win32Application alone;
        EXPECT_FALSE(alone.PrevInstance());
    }
    HeldChild other(L"instance");
    ASSERT_TRUE(other.ready);
    {
        Win32Application second;
        EXPECT_TRUE(second.PrevInstance());
    }
    EXPECT_EQ(other.Release(), 0);
    Win32Application afterwards;
    EXPECT_FALSE(afterwards.PrevInstance());
}

TEST(PreviousInstance, KilledInstanceDoesNotBlockTheNext) {
    HeldChild other(L"instance");
    ASSERT_TRUE(other.ready);
    other.Kill();
    Win32Application next;
    EXPECT_FALSE(next.PrevInstance());
}

TEST(PreviousInstance, TheFirstInstanceDoesNotSeeALaterOne) {
    Win32Application first;
    ASSERT_FALSE(first.PrevInstance());
    HeldChild later(L"instance");
    // The child saw this process's mutex, so it refused to run (exit code 4).
    EXPECT_FALSE(later.ready);
    EXPECT_EQ(later.Release(), 4);
    EXPECT_FALSE(first.PrevInstance());
}

TEST(PreviousInstance, AMutexThatMayNotBeOpenedBelongsToARunningInstance) {
    EXPECT_FALSE(AnotherInstanceRuns(true, ERROR_SUCCESS));
    EXPECT_TRUE(AnotherInstanceRuns(true, ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(AnotherInstanceRuns(false, ERROR_ACCESS_DENIED));
    EXPECT_FALSE(AnotherInstanceRuns(false, ERROR_INVALID_HANDLE));  // not a mutex: no instance
}

// ---- Message box -----------------------------------------------------------------------

TEST(MessageBoxWithoutDisplay, ReturnsInsteadOfWaiting) {
    Win32Application app;
    app.SetTitle("ペロリンⅡ");
    app.MessageBox("対象のファイルがみつかりません。処理を終了します。", kStyleExclamation);
    app.MessageBox("x", kStyleCritical);
    SUCCEED();
}

// ---- Files -----------------------------------------------------------------------------

class FilesTest : public ::testing::Test {
  protected:
    Win32Files files_;
    TempFolder folder_;
};

// Only a missing folder lists as empty: any other refusal must stop the pass, which reports
// it with its own tag. Wine, run as root, cannot be made to refuse a listing for want of
// rights, so a name that Windows refuses stands in for it here; the translation is the same.
TEST_F(FilesTest, ListingThatIsRefusedRaises) {
    EXPECT_EQ(ErrorNumberOfCall([&] { files_.ListFiles(folder_ / "bad|name"); }), 53);
    EXPECT_EQ(ErrorNumberOfWin32(ERROR_ACCESS_DENIED), 70);
    EXPECT_EQ(ErrorNumberOfWin32(ERROR_NETWORK_ACCESS_DENIED), 70);
    EXPECT_EQ(ErrorNumberOfWin32(ERROR_NETNAME_DELETED), 75);
    EXPECT_EQ(ErrorNumberOfWin32(ERROR_BAD_NETPATH), 75);
}

// ---- Registry --------------------------------------------------------------------------

class RegistryTest : public ::testing::Test {
  protected:
    static constexpr const char* kKey = "P2PortTest.Application\\shell\\open";

    void SetUp() override { test::DeleteClassesTree("P2PortTest.Application"); }
    void TearDown() override { SetUp(); }

    void Write(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        HKEY key = test::CreateClassesKey(std::string(kKey) + "\\command");
        ASSERT_NE(key, nullptr);
        ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void WriteText(const wchar_t* name, const std::wstring& text) {
        Write(name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    // Read as the launcher reads: through the classes root.
    std::string Read(const std::string& valueName) {
        return RegGetString(registry_, kHKeyClassesRoot,
                            "P2PortTest.Application\\shell\\open\\command", valueName);
    }

    Win32Registry registry_;
};

TEST_F(RegistryTest, TextComesBackFromTheAnsiCodePage) {
    const std::string text = "Ä\\é";  // in the Western code pages; skipped elsewhere
    bool exact = false;
    ToAnsi(text, &exact);
    if (!exact) {
        GTEST_SKIP() << "the ANSI code page cannot spell the sample";
    }
    WriteText(L"Accented", W(text));
    EXPECT_EQ(Read("Accented"), text);
}

// A character the code page lacks is never given as a look-alike (é as e), which would name
// another key: it is the default character, and the text is not exact.
TEST(AnsiText, ExactOnlyWhereTheCodePageSpellsEveryCharacter) {
    const bool utf8 = GetACP() == CP_UTF8;
    if (!utf8 && GetACP() != 932) {
        GTEST_SKIP() << "cases for the code pages 932 and 65001";
    }
    const struct {
        const char* text;
        bool exactIn932;
    } cases[] = {{"ペロリン 管理", true}, {"é", false}, {"Ä\\é", false}};
    for (const auto& c : cases) {
        bool exact = !c.exactIn932;
        const std::string ansi = ToAnsi(c.text, &exact);
        EXPECT_EQ(exact, utf8 || c.exactIn932) << c.text;
        if (!exact) {
            EXPECT_EQ(ansi.find_first_of("AeE"), std::string::npos) << c.text << " -> " << ansi;
        }
    }
}

// ---- Shell file operation --------------------------------------------------------------

TEST(ShellFileOperationResult, DoneOnlyWhenTheFilesShowIt) {
    const struct {
        uint32_t func;
        int32_t result;
        bool aborted, sourceLeft, destinationThere;
        bool done;
    } cases[] = {
        {kFoMove, 0, false, false, true, true},    {kFoMove, 0, true, false, true, false},
        {kFoMove, 0, false, true, true, false},    {kFoMove, 0, false, false, false, false},
        {kFoMove, 32, false, false, true, false},  {kFoDelete, 0, false, false, false, true},
        {kFoDelete, 0, false, true, false, false}, {kFoDelete, 0, true, false, false, false},
    };
    for (const auto& c : cases) {
        const int32_t answer =
            ConfirmedResult(c.func, c.result, c.aborted, c.sourceLeft, c.destinationThere);
        EXPECT_EQ(answer == 0, c.done)
            << c.func << c.result << c.aborted << c.sourceLeft << c.destinationThere;
    }
}

// ---- The machine the tests run on ----------------------------------------------------------

// Wine takes the ANSI code page from the locale: without the locale it is 1252, and every
// test of names outside it would pass for the wrong reason. The test script says which one.
TEST(WineMachine, RunsWithTheExpectedAnsiCodePage) {
    wchar_t expected[16] = L"932";
    GetEnvironmentVariableW(L"P2_EXPECTED_ACP", expected, 16);
    EXPECT_EQ(GetACP(), static_cast<UINT>(std::wcstoul(expected, nullptr, 10)));
    bool exact = false;
    ToAnsi("ペロリン 管理", &exact);
    EXPECT_TRUE(exact);
}

// ---- Script host -----------------------------------------------------------------------

TEST(ScriptHostTest, StartupFoldersAreFullPathsWithoutSeparator) {
    Win32ScriptHost host;
    std::unique_ptr<ScriptShell> shell = host.CreateShell();
    ASSERT_TRUE(shell);
    const std::string allUsers = shell->SpecialFolders("AllUsersStartup");
    const std::string user = shell->SpecialFolders("Startup");
    for (const std::string& folder : {allUsers, user}) {
        ASSERT_GE(folder.size(), 3u) << folder;
        EXPECT_EQ(folder[1], ':') << folder;
        EXPECT_NE(folder.back(), '\\') << folder;
    }
    EXPECT_NE(allUsers, user);
}

}  // namespace
}  // namespace p2::win32
