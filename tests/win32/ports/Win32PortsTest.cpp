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
using test::Exists;
using test::HeldChild;
using test::ReadText;
using test::SetAttributes;
using test::TempFolder;
using test::W;
using test::WriteText;

// Built piecewise: GCC 12 warns falsely (-Wrestrict) about a literal added to a temporary.
std::string Quoted(const std::string& path) {
    std::string text(1, '"');
    text += path;
    text += '"';
    return text;
}

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

TEST_F(FilesTest, LookupMasksHiddenSystemAndFolders) {
    WriteText(folder_ / "plain.mdb", "x");
    WriteText(folder_ / "hidden.mdb", "x");
    SetAttributes(folder_ / "hidden.mdb", FILE_ATTRIBUTE_HIDDEN);
    WriteText(folder_ / "system.mdb", "x");
    SetAttributes(folder_ / "system.mdb", FILE_ATTRIBUTE_SYSTEM);
    WriteText(folder_ / "readonly.mdb", "x");
    SetAttributes(folder_ / "readonly.mdb", FILE_ATTRIBUTE_READONLY);
    CreateDirectoryW(W(folder_ / "folder.mdb").c_str(), nullptr);

    EXPECT_EQ(files_.Lookup(folder_ / "plain.mdb", kAttrNormal), "plain.mdb");
    EXPECT_EQ(files_.Lookup(folder_ / "plain.mdb", kAttrHidden), "plain.mdb");
    EXPECT_EQ(files_.Lookup(folder_ / "readonly.mdb", kAttrNormal), "readonly.mdb");
    EXPECT_EQ(files_.Lookup(folder_ / "hidden.mdb", kAttrNormal), "");
    EXPECT_EQ(files_.Lookup(folder_ / "hidden.mdb", kAttrHidden), "hidden.mdb");
    EXPECT_EQ(files_.Lookup(folder_ / "system.mdb", kAttrNormal), "");
    EXPECT_EQ(files_.Lookup(folder_ / "system.mdb", kAttrHidden), "");
    EXPECT_EQ(files_.Lookup(folder_ / "folder.mdb", kAttrHidden), "");
    EXPECT_EQ(files_.Lookup(folder_ / "missing.mdb", kAttrHidden), "");
    EXPECT_EQ(files_.Lookup("", kAttrHidden), "");
}

TEST_F(FilesTest, LookupNeverMatchesAPattern) {
    WriteText(folder_ / "plain.mdb", "x");
    EXPECT_EQ(files_.Lookup(folder_ / "*.mdb", kAttrHidden), "");
    EXPECT_EQ(files_.Lookup(folder_ / "plain.md?", kAttrHidden), "");
    EXPECT_EQ(files_.Lookup(folder_ / "*", kAttrNormal), "");
}

TEST_F(FilesTest, LookupAnswersTheNameWithNonAnsiCharacters) {
    WriteText(folder_ / "ペロリン更新.mdb", "x");
    EXPECT_EQ(files_.Lookup(folder_ / "ペロリン更新.mdb", kAttrNormal), "ペロリン更新.mdb");
}

TEST_F(FilesTest, ListingHoldsPlainAndHiddenFilesOnly) {
    WriteText(folder_ / "b.txt", "x");
    WriteText(folder_ / "a.mdb", "x");
    WriteText(folder_ / "h.sys", "x");
    SetAttributes(folder_ / "h.sys", FILE_ATTRIBUTE_HIDDEN);
    WriteText(folder_ / "s.sys", "x");
    SetAttributes(folder_ / "s.sys", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN);
    WriteText(folder_ / "noext", "x");
    CreateDirectoryW(W(folder_ / "sub").c_str(), nullptr);
    WriteText(folder_ / "sub\\inner.txt", "x");

    std::vector<std::string> names = files_.ListFiles(folder_.Path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.mdb", "b.txt", "h.sys", "noext"}));
}

TEST_F(FilesTest, ListingOfAMissingOrEmptyFolderIsEmpty) {
    EXPECT_TRUE(files_.ListFiles(folder_ / "missing").empty());
    EXPECT_TRUE(files_.ListFiles(folder_.Path()).empty());
}

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

TEST_F(FilesTest, ModificationTimeIsUtcSecondsSinceTheEpoch) {
    const std::string path = folder_ / "dated.txt";
    WriteText(path, "x");
    // 2020-01-02 03:04:05.9 UTC: the fraction is cut, not rounded.
    const int64_t seconds = 1577934245;
    const int64_t ticks = (seconds + 11644473600LL) * 10000000LL + 9000000LL;
    FILETIME time{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
    HANDLE file = CreateFileW(W(path).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &time));
    CloseHandle(file);
    EXPECT_EQ(files_.ModificationTime(path), seconds);
}

TEST_F(FilesTest, ModificationTimeOfAMissingFileFails) {
    EXPECT_EQ(ErrorNumberOfCall([&] { files_.ModificationTime(folder_ / "missing"); }), 53);
    EXPECT_EQ(ErrorNumberOfCall([&] { files_.ModificationTime(folder_ / "no\\such"); }), 53);
}

TEST_F(FilesTest, DeleteRemovesOrReportsWhy) {
    WriteText(folder_ / "gone.lnk", "x");
    files_.DeleteFile(folder_ / "gone.lnk");
    EXPECT_FALSE(Exists(folder_ / "gone.lnk"));

    EXPECT_EQ(ErrorNumberOfCall([&] { files_.DeleteFile(folder_ / "gone.lnk"); }), 53);

    WriteText(folder_ / "readonly.lnk", "x");
    SetAttributes(folder_ / "readonly.lnk", FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(ErrorNumberOfCall([&] { files_.DeleteFile(folder_ / "readonly.lnk"); }), 70);
    EXPECT_TRUE(Exists(folder_ / "readonly.lnk"));
}

TEST_F(FilesTest, DeleteOfAFileHeldByAnotherProcessFails) {
    const std::string path = folder_ / "held.ldb";
    WriteText(path, "x");
    HeldChild holder(L"lock", {{L"P2_HELPER_FILE", W(path)}});
    ASSERT_TRUE(holder.ready);
    EXPECT_EQ(ErrorNumberOfCall([&] { files_.DeleteFile(path); }), 70);
    EXPECT_TRUE(Exists(path));
    EXPECT_EQ(holder.Release(), 0);
    files_.DeleteFile(path);
    EXPECT_FALSE(Exists(path));
}

// ---- Registry --------------------------------------------------------------------------

class RegistryTest : public ::testing::Test {
  protected:
    static constexpr const char* kKey = "Software\\Classes\\P2PortTest.Application\\shell\\open";

    void SetUp() override {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Classes\\P2PortTest.Application");
    }
    void TearDown() override { SetUp(); }

    void Write(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, W(std::string(kKey) + "\\command").c_str(), 0,
                                  nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
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

TEST_F(RegistryTest, DefaultValueThroughTheClassesRoot) {
    WriteText(nullptr, L"\"C:\\Office\\MSACCESS.EXE\" /NOSTARTUP \"%1\"");
    EXPECT_EQ(Read(""), "\"C:\\Office\\MSACCESS.EXE\" /NOSTARTUP \"%1\"");
}

TEST_F(RegistryTest, NamedValueAndMissingOnes) {
    WriteText(L"Path", L"C:\\x");
    EXPECT_EQ(Read("Path"), "C:\\x");
    EXPECT_EQ(Read("path"), "C:\\x");  // names compare without regard to case
    EXPECT_EQ(Read("Other"), "");
    EXPECT_EQ(Read(""), "");
    RegKey key = 0;
    EXPECT_EQ(registry_.OpenKey(kHKeyClassesRoot, "P2PortTest.Missing", kKeyRead, key),
              kRegFileNotFound);
}

TEST_F(RegistryTest, SizeLimitOfTheBuffer) {
    WriteText(L"Fits", std::wstring(1023, L'a'));
    EXPECT_EQ(Read("Fits"), std::string(1023, 'a'));
    WriteText(L"TooLong", std::wstring(1024, L'a'));
    EXPECT_EQ(Read("TooLong"), "");
}

TEST_F(RegistryTest, NonTextValuesAreCutAtTheirFirstZeroByte) {
    const DWORD low = 0x00414243;  // bytes 43 42 41 00
    Write(L"Number", REG_DWORD, &low, sizeof low);
    EXPECT_EQ(Read("Number"), "CBA");
    const DWORD zeroLow = 0x41424300;
    Write(L"ZeroLow", REG_DWORD, &zeroLow, sizeof zeroLow);
    EXPECT_EQ(Read("ZeroLow"), "");
    const std::wstring expandable = L"%SystemRoot%\\x";
    Write(L"Expand", REG_EXPAND_SZ, expandable.c_str(),
          static_cast<DWORD>((expandable.size() + 1) * sizeof(wchar_t)));
    EXPECT_EQ(Read("Expand"), "%SystemRoot%\\x");
}

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

// The 932 and UTF-8 ANSI code pages both spell it; the tests run under both.
TEST_F(RegistryTest, JapaneseTextThroughTheAnsiForm) {
    WriteText(nullptr, L"\"C:\\オフィス 10\\MSACCESS.EXE\" \"%1\"");
    EXPECT_EQ(Read(""), "\"C:\\オフィス 10\\MSACCESS.EXE\" \"%1\"");
}

TEST_F(RegistryTest, AdministratorProbeOpensTheSystemKey) {
    // Wine runs every program with administrator rights.
    RegKey key = 0;
    ASSERT_EQ(registry_.OpenKey(kHKeyLocalMachine, "SYSTEM", kKeyAllAccess, key), kRegSuccess);
    EXPECT_EQ(registry_.CloseKey(key), kRegSuccess);
}

// ---- Shell file operation --------------------------------------------------------------

class ShellFileOperationTest : public ::testing::Test {
  protected:
    int32_t Move(const std::string& from, const std::string& to) {
        return shell_.Run({kFoMove, List(from), List(to), kFofSilent | kFofNoConfirmation});
    }
    int32_t Kill(const std::string& path) {
        return shell_.Run({kFoDelete, List(path), {}, kFofSilent | kFofNoConfirmation});
    }
    static std::string List(const std::string& path) { return path + std::string(2, '\0'); }

    Win32ShellFileOperation shell_;
    TempFolder folder_;
};

TEST_F(ShellFileOperationTest, MoveReplacesTheInstalledFileSilently) {
    WriteText(folder_ / "app.mdb", "old");
    CreateDirectoryW(W(folder_ / "UPDATE").c_str(), nullptr);
    WriteText(folder_ / "UPDATE\\app.mdb", "new");
    EXPECT_EQ(Move(folder_ / "UPDATE\\app.mdb", folder_ / "app.mdb"), 0);
    EXPECT_EQ(ReadText(folder_ / "app.mdb"), "new");
    EXPECT_FALSE(Exists(folder_ / "UPDATE\\app.mdb"));
}

TEST_F(ShellFileOperationTest, MoveToANewName) {
    WriteText(folder_ / "a.txt", "a");
    EXPECT_EQ(Move(folder_ / "a.txt", folder_ / "b.txt"), 0);
    EXPECT_EQ(ReadText(folder_ / "b.txt"), "a");
}

TEST_F(ShellFileOperationTest, DeleteRemovesForGood) {
    WriteText(folder_ / "x.txt", "x");
    EXPECT_EQ(Kill(folder_ / "x.txt"), 0);
    EXPECT_FALSE(Exists(folder_ / "x.txt"));
}

TEST_F(ShellFileOperationTest, MissingSourceFailsWithoutTheService) {
    EXPECT_NE(Kill(folder_ / "missing.txt"), 0);
    EXPECT_NE(Move(folder_ / "missing.txt", folder_ / "b.txt"), 0);
    EXPECT_FALSE(Exists(folder_ / "b.txt"));
}

TEST_F(ShellFileOperationTest, NamesOutsideTheAnsiCodePage) {
    WriteText(folder_ / "ペロリン.mdb", "new");
    WriteText(folder_ / "設定.mdb", "old");
    EXPECT_EQ(Move(folder_ / "ペロリン.mdb", folder_ / "設定.mdb"), 0);
    EXPECT_EQ(ReadText(folder_ / "設定.mdb"), "new");
    EXPECT_EQ(Kill(folder_ / "設定.mdb"), 0);
    EXPECT_FALSE(Exists(folder_ / "設定.mdb"));
}

// Wine answers 0 for a move that a sharing violation refused: the files must show the move.
TEST_F(ShellFileOperationTest, MoveOntoAHeldFileFailsAndKeepsBoth) {
    const std::string installed = folder_ / "a.txt";
    WriteText(installed, "old");
    WriteText(folder_ / "new.txt", "new");
    HeldChild holder(L"lock", {{L"P2_HELPER_FILE", W(installed)}});
    ASSERT_TRUE(holder.ready);
    EXPECT_NE(Move(folder_ / "new.txt", installed), 0);
    EXPECT_EQ(holder.Release(), 0);
    EXPECT_EQ(ReadText(installed), "old");
    EXPECT_EQ(ReadText(folder_ / "new.txt"), "new");
}

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

// ---- Process start ---------------------------------------------------------------------

TEST(ProcessStart, MissingProgramRaises53) {
    Win32Process process;
    TempFolder folder;
    EXPECT_EQ(ErrorNumberOfCall([&] {
                  process.Shell(Quoted(folder / "MSACCESS.EXE") + " /Runtime \"x\"", kNormalFocus);
              }),
              53);
    EXPECT_EQ(ErrorNumberOfCall(
                  [&] { process.Shell(Quoted(folder / "no\\MSACCESS.EXE"), kNormalFocus); }),
              53);
}

TEST(ProcessStart, NotAProgramRaises70) {
    Win32Process process;
    TempFolder folder;
    WriteText(folder / "MSACCESS.EXE", "not a program");
    EXPECT_EQ(
        ErrorNumberOfCall([&] { process.Shell(Quoted(folder / "MSACCESS.EXE"), kNormalFocus); }),
        70);
}

TEST(ProcessStart, StartsTheWholeLineWithoutWaiting) {
    Win32Process process;
    TempFolder folder;
    const std::string out = folder / "report.txt";
    test::ScopedEnvironment environment(
        {{L"P2_HELPER_MODE", L"report"}, {L"P2_HELPER_OUT", W(out)}});
    const int64_t id = process.Shell(
        Quoted(BinFolder() + "\\p2_win32_helper.exe") + " /Runtime \"Z:\\a b\\t.mdb\" /User u",
        kNormalFocus);
    ASSERT_GT(id, 0);
    HANDLE child = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(WaitForSingleObject(child, 60000), WAIT_OBJECT_0);
    CloseHandle(child);
    const std::string text = ReadText(out);
    EXPECT_EQ(text.substr(0, text.find('\n')), "/Runtime \"Z:\\a b\\t.mdb\" /User u");
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
