// Pelorin2.exe started under Wine on sample installations: boxes, moves and the Access start.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/Main.h"
#include "launcher/Workgroup.h"
#include "platform/win32/Text_win32.h"
#include "update/FileUpdate.h"
#include "win32/Win32TestSupport.h"
#include "win32/engine/EngineTestSupport.h"

namespace p2::win32 {
namespace {

using test::BinFolder;
using test::Exists;
using test::ReadText;
using test::SetAttributes;
using test::SetWriteTime;
using test::TempFolder;
using test::W;
using test::WriteText;

constexpr const char* kAccessClassKey = "Access.Application.10\\shell\\open\\command";

// One L"..." of Wine's trace from `open`, with its \n, \r, \t, \", \\ and \xxxx (four hex
// digits) escapes undone; `end` is left after its closing quote.
std::string DecodeTraced(const std::string& trace, size_t open, size_t& end) {
    std::wstring text;
    size_t i = open + 2;
    for (; i < trace.size() && trace[i] != '"' && trace[i] != '\n'; ++i) {
        if (trace[i] != '\\' || i + 1 >= trace.size()) {
            text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(trace[i])));
            continue;
        }
        const char c = trace[++i];
        if (c == 'n' || c == 'r' || c == 't') {
            text.push_back(c == 'n' ? L'\n' : c == 'r' ? L'\r' : L'\t');
        } else if (std::isxdigit(static_cast<unsigned char>(c)) && i + 3 < trace.size()) {
            text.push_back(
                static_cast<wchar_t>(std::strtoul(trace.substr(i, 4).c_str(), nullptr, 16)));
            i += 3;
        } else {
            text.push_back(static_cast<wchar_t>(c));
        }
    }
    end = i + 1;
    return Narrow(text);
}

// The texts of the program's own message boxes (those with its title as caption) in Wine's
// relay trace of MessageBoxW; a text is cut after some 300 characters of trace.
std::vector<std::string> BoxTextsInTrace(const std::string& trace) {
    std::vector<std::string> texts;
    const std::string call = "Call user32.MessageBoxW(";
    for (size_t at = trace.find(call); at != std::string::npos; at = trace.find(call, at + 1)) {
        const size_t lineEnd = trace.find('\n', at);
        size_t end = 0;
        const size_t textAt = trace.find("L\"", at);
        if (textAt >= lineEnd) {
            continue;
        }
        const std::string text = DecodeTraced(trace, textAt, end);
        const size_t captionAt = trace.find("L\"", end);
        if (captionAt < lineEnd && DecodeTraced(trace, captionAt, end) == kAppTitle) {
            texts.push_back(text);
        }
    }
    return texts;
}

// The trace file is open for writing as this program's standard error: read it sharing all.
std::string ReadTrace(const std::string& path) {
    return ReadText(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
}

// An installation: install root with SYSTEM and LAN beside the program folder P2, which holds
// a copy of the built launcher. Access is the recording stand-in of the build.
class InstalledLauncher : public ::testing::Test {
  protected:
    void SetUp() override {
        CreateDirectoryW(W(ProgramFolder()).c_str(), nullptr);
        CreateDirectoryW(W(root_ / "SYSTEM").c_str(), nullptr);
        CreateDirectoryW(W(root_ / "LAN").c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(W(BinFolder() + "\\Pelorin2.exe").c_str(),
                              W(ProgramFolder() + "\\Pelorin2.exe").c_str(), FALSE));
        RegisterAccess(BinFolder() + "\\MSACCESS.EXE");
        // Only the message box is traced when a launcher runs with +relay (see Run).
        HKEY debug = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\Debug", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &debug, nullptr),
                  ERROR_SUCCESS);
        const std::wstring include = L"user32.MessageBoxW";
        RegSetValueExW(debug, L"RelayInclude", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(include.c_str()),
                       static_cast<DWORD>((include.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(debug);
    }

    void RegisterAccess(const std::string& path) {
        accessPath_ = path;
        HKEY key = test::CreateClassesKey(kAccessClassKey);
        ASSERT_NE(key, nullptr);
        const std::wstring command = L"\"" + W(accessPath_) + L"\" /NOSTARTUP \"%1\"";
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                       static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }

    std::string ProgramFolder() const { return root_ / programFolderName_; }
    // The command line that Access must receive for `target` in the program folder.
    std::string LaunchLine(const std::string& target) const {
        const std::string folder = ProgramFolder();
        return "\"" + accessPath_ + "\" /Runtime \"" + folder + "\\" + target + "\" /Wrkgrp \"" +
               folder + "\\Pelorin2.wgf\" /User " + GetWorkgroupUser() + " /Pwd " +
               GetWorkgroupPassword();
    }
    std::string RecordFile() const { return root_ / "record.txt"; }

    // Runs the launcher with `arguments` and waits (bounded) until it has ended and whatever
    // it started has written its record. Answers false when the launcher did not end in time.
    bool Run(const std::wstring& arguments) {
        // The test script runs each test program with its standard error in the file that
        // P2_TRACE_FILE names; the launcher inherits it, and Wine writes its trace there.
        const char* traceFile = std::getenv("P2_TRACE_FILE");
        const std::string trace = traceFile ? traceFile : "";
        const size_t traced = ReadTrace(trace).size();
        test::ScopedEnvironment environment(
            {{L"P2_RECORD_FILE", W(RecordFile())}, {L"WINEDEBUG", L"-all,+relay"}});
        HANDLE job = CreateJobObjectW(nullptr, nullptr);
        std::wstring line = L"\"" + W(ProgramFolder()) + L"\\Pelorin2.exe\"" + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                            nullptr, nullptr, &startup, &info)) {
            CloseHandle(job);
            return false;
        }
        AssignProcessToJobObject(job, info.hProcess);
        ResumeThread(info.hThread);
        const bool ended = WaitForSingleObject(info.hProcess, 60000) == WAIT_OBJECT_0;
        // Wine starts helpers of its own inside the job, so the job cannot tell whether the
        // launcher started Access; the stand-in's record can. It writes it first thing, and is
        // given a bounded time to do so.
        for (int i = 0; ended && i < 60 && !Exists(RecordFile()); ++i) {
            Sleep(50);
        }
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        CloseHandle(job);
        const std::string all = ReadTrace(trace);
        boxes_ = BoxTextsInTrace(all.substr(std::min(traced, all.size())));
        return ended;
    }

    // The one box the last run showed: `expected`, or its beginning where the trace cut it.
    void ExpectOneBox(const std::string& expected) {
        ASSERT_EQ(boxes_.size(), 1u) << "no trace of the boxes: is P2_TRACE_FILE set?";
        EXPECT_EQ(expected.substr(0, boxes_[0].size()), boxes_[0]);
        EXPECT_GE(boxes_[0].size(), std::min<size_t>(expected.size(), 40));
    }

    TempFolder root_;
    std::string programFolderName_ = "P2";
    std::string accessPath_;
    std::vector<std::string> boxes_;
};

TEST_F(InstalledLauncher, StartsAccessWithTheExactCommandLine) {
    WriteText(ProgramFolder() + "\\販売 管理.mdb", "x");
    ASSERT_TRUE(Run(L" \"Z:\\elsewhere\\販売 管理.mdb\""));
    ASSERT_TRUE(Exists(RecordFile()));
    EXPECT_EQ(ReadText(RecordFile()), LaunchLine("販売 管理.mdb"));
}

// A program folder and an Access folder with Japanese names and blanks, in both ANSI code
// pages the tests run under.
class JapaneseFolders : public InstalledLauncher {
  protected:
    JapaneseFolders() { programFolderName_ = "ペロリン 2 管理"; }
};

TEST_F(JapaneseFolders, StartsAccessWithTheirNamesIntact) {
    WriteText(ProgramFolder() + "\\販売 管理.mdb", "x");
    const std::string office = root_ / "オフィス 10";
    CreateDirectoryW(W(office).c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(W(BinFolder() + "\\MSACCESS.EXE").c_str(),
                          W(office + "\\MSACCESS.EXE").c_str(), FALSE));
    RegisterAccess(office + "\\MSACCESS.EXE");
    ASSERT_TRUE(Run(L" \"販売 管理.mdb\""));
    EXPECT_EQ(ReadText(RecordFile()), LaunchLine("販売 管理.mdb"));
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(InstalledLauncher, StaleLockFileIsClearedBeforeTheStart) {
    WriteText(ProgramFolder() + "\\app.mdb", "x");
    WriteText(ProgramFolder() + "\\app.ldb", "stale");
    ASSERT_TRUE(Run(L" app.mdb"));
    EXPECT_FALSE(Exists(ProgramFolder() + "\\app.ldb"));
    EXPECT_TRUE(Exists(RecordFile()));
}

TEST_F(InstalledLauncher, HiddenOrMissingTargetStartsNothing) {
    WriteText(ProgramFolder() + "\\hidden.mdb", "x");
    SetAttributes(ProgramFolder() + "\\hidden.mdb", FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(Run(L" hidden.mdb"));
    ASSERT_TRUE(Run(L" missing.mdb"));
    ASSERT_TRUE(Run(L""));
    EXPECT_FALSE(Exists(RecordFile()));
}

TEST_F(InstalledLauncher, HeldLockFileEndsSilentlyWithNothingStarted) {
    WriteText(ProgramFolder() + "\\app.mdb", "x");
    const std::string lock = ProgramFolder() + "\\app.ldb";
    WriteText(lock, "held");
    test::HeldChild access(L"lock", {{L"P2_HELPER_FILE", W(lock)}});
    ASSERT_TRUE(access.ready);
    ASSERT_TRUE(Run(L" app.mdb"));
    EXPECT_FALSE(Exists(RecordFile()));
    EXPECT_TRUE(Exists(lock));
    EXPECT_EQ(access.Release(), 0);
}

// The update pass with the stand-in engine that the tests register as DAO.DBEngine.36; the
// installation ships its workgroup file with the program's account.
class UpdatedInstallation : public InstalledLauncher {
  protected:
    void SetUp() override {
        CLSID clsid{};
        if (FAILED(CLSIDFromProgID(L"DAO.DBEngine.36", &clsid))) {
            GTEST_SKIP() << "no DAO.DBEngine.36 registered in this prefix";
        }
        InstalledLauncher::SetUp();
        test::WriteWorkgroup(ProgramFolder() + "\\" + kWorkgroupFileName, GetWorkgroupUser(),
                             GetWorkgroupPassword());
        WriteText(ProgramFolder() + "\\app.mdb", "x");
        for (const char* folder : {"SYSTEM\\UPDATE", "LAN\\UPDATE"}) {
            CreateDirectoryW(W(root_ / folder).c_str(), nullptr);
        }
    }
    static test::Store Stamped(const std::string& stamp,
                               std::vector<std::vector<test::Value>> options = {}) {
        test::Store store = test::StampDatabase("T00_製品情報", stamp);
        store.tables.push_back(test::Table{"TZs_オプション設定", {"id", "pwd"}, options});
        return store;
    }
};

TEST_F(UpdatedInstallation, PlainFilesAreMovedByTimeBeforeTheStart) {
    WriteText(root_ / "SYSTEM\\UPDATE\\readme.txt", "new");
    WriteText(root_ / "LAN\\UPDATE\\hidden.txt", "hidden");
    SetAttributes(root_ / "LAN\\UPDATE\\hidden.txt", FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(Run(L" app.mdb"));
    EXPECT_EQ(ReadText(root_ / "SYSTEM\\readme.txt"), "new");
    EXPECT_FALSE(Exists(root_ / "SYSTEM\\UPDATE\\readme.txt"));
    EXPECT_EQ(ReadText(root_ / "LAN\\hidden.txt"), "hidden");
    EXPECT_FALSE(Exists(root_ / "LAN\\UPDATE\\hidden.txt"));
    EXPECT_TRUE(Exists(RecordFile()));
}

// Wine's shell answers 0 for a move that a sharing violation refused; the delivery must
// survive it for the next start.
TEST_F(UpdatedInstallation, AnInstalledCopyInUseStopsTheStartAndKeepsTheDelivery) {
    const std::string installed = root_ / "SYSTEM\\a.txt";
    WriteText(installed, "old");
    SetWriteTime(installed, 1577934245);
    WriteText(root_ / "SYSTEM\\UPDATE\\a.txt", "new");
    WriteText(root_ / "LAN\\UPDATE\\b.txt", "lan");
    test::HeldChild holder(L"lock", {{L"P2_HELPER_FILE", W(installed)}});
    ASSERT_TRUE(holder.ready);
    ASSERT_TRUE(Run(L" app.mdb"));
    EXPECT_EQ(holder.Release(), 0);
    ExpectOneBox(std::string("\"a.txt") + kUpdateFailedMessage);
    EXPECT_EQ(ReadText(installed), "old");
    EXPECT_EQ(ReadText(root_ / "SYSTEM\\UPDATE\\a.txt"), "new");
    EXPECT_FALSE(Exists(RecordFile()));
    EXPECT_EQ(ReadText(root_ / "LAN\\UPDATE\\b.txt"), "lan");
    EXPECT_FALSE(Exists(root_ / "LAN\\b.txt"));
}

// A copier still writing (others may only read) holds its delivery: the start stops, and the
// next one takes the finished copy.
TEST_F(UpdatedInstallation, ADeliveryStillBeingCopiedStopsTheStartAndIsTakenOnceClosed) {
    const std::string installed = root_ / "SYSTEM\\a.txt";
    const std::string delivery = root_ / "SYSTEM\\UPDATE\\a.txt";
    WriteText(installed, "old");
    SetWriteTime(installed, 1577934245);
    WriteText(delivery, "first half");
    test::HeldChild copier(
        L"append", {{L"P2_HELPER_FILE", W(delivery)}, {L"P2_HELPER_TEXT", L", second half"}});
    ASSERT_TRUE(copier.ready);
    ASSERT_TRUE(Run(L" app.mdb"));
    ExpectOneBox(std::string("\"a.txt") + kUpdateFailedMessage);
    EXPECT_EQ(ReadText(installed), "old");
    EXPECT_EQ(ReadText(delivery, FILE_SHARE_READ | FILE_SHARE_WRITE), "first half");
    EXPECT_FALSE(Exists(RecordFile()));
    EXPECT_EQ(copier.Release(), 0);
    ASSERT_TRUE(Run(L" app.mdb"));
    EXPECT_EQ(ReadText(installed), "first half, second half");
    EXPECT_FALSE(Exists(delivery));
    EXPECT_TRUE(boxes_.empty());
    EXPECT_TRUE(Exists(RecordFile()));
}

// It begins as an Access database but DAO does not open it: a copy cut off, never moved in.
TEST_F(UpdatedInstallation, ADeliveryWithAJetHeaderThatDoesNotOpenLeavesTheWorkingDatabase) {
    const std::string installed = root_ / "SYSTEM\\sales.mdb";
    const std::string delivery = root_ / "SYSTEM\\UPDATE\\sales.mdb";
    const test::Store working = Stamped("AB104");
    test::WriteDatabase(installed, working);
    SetWriteTime(installed, 1577934245);
    const std::string damaged =
        std::string("\0\1\0\0Standard Jet DB\0", 20) + std::string(4000, '\x5a');
    WriteText(delivery, damaged);
    ASSERT_TRUE(Run(L" app.mdb"));
    ExpectOneBox(std::string("\"sales.mdb") + kUpdateFailedMessage);
    EXPECT_EQ(ReadText(installed), working.Text());
    EXPECT_EQ(ReadText(delivery), damaged);
    EXPECT_FALSE(Exists(RecordFile()));
}

// Code page 932 spells none of these (the tildes only as look-alikes): each must arrive
// under its own name.
TEST_F(UpdatedInstallation, NamesOutsideTheAnsiCodePageAreMovedInAsThemselves) {
    const std::vector<std::string> names = {"café.txt", "한글 문서.txt", "2024年度～2025年度.xls",
                                            "波〜線.txt"};
    for (const std::string& name : names) {
        WriteText(root_ / "SYSTEM\\UPDATE\\" + name, name);
    }
    ASSERT_TRUE(Run(L" app.mdb"));
    for (const std::string& name : names) {
        EXPECT_EQ(ReadText(root_ / "SYSTEM\\" + name), name);
        EXPECT_FALSE(Exists(root_ / "SYSTEM\\UPDATE\\" + name)) << name;
    }
    EXPECT_FALSE(Exists(root_ / "SYSTEM\\cafe.txt"));
    EXPECT_TRUE(boxes_.empty());
    EXPECT_TRUE(Exists(RecordFile()));
}

TEST_F(UpdatedInstallation, DatabasesAreReplacedOnlyByAGreaterStamp) {
    test::WriteDatabase(root_ / "SYSTEM\\app.mdb", Stamped("AB001"));
    test::WriteDatabase(root_ / "SYSTEM\\UPDATE\\app.mdb", Stamped("AB002"));
    const test::Store kept = Stamped("AB005");
    test::WriteDatabase(root_ / "LAN\\data.mdb", kept);
    test::WriteDatabase(root_ / "LAN\\UPDATE\\data.mdb", Stamped("AB004"));
    ASSERT_TRUE(Run(L" app.mdb"));
    EXPECT_EQ(ReadText(root_ / "SYSTEM\\app.mdb"), Stamped("AB002").Text());
    EXPECT_EQ(ReadText(root_ / "LAN\\data.mdb"), kept.Text());
    EXPECT_FALSE(Exists(root_ / "SYSTEM\\UPDATE\\app.mdb"));
    EXPECT_FALSE(Exists(root_ / "LAN\\UPDATE\\data.mdb"));
    EXPECT_TRUE(Exists(RecordFile()));
}

TEST_F(UpdatedInstallation, ANewerSettingsDatabaseKeepsTheOptionPassword) {
    test::WriteDatabase(root_ / "SYSTEM\\maintenance.sys",
                        Stamped("AB001", {{int32_t{1}, std::string("ユーザーの")}}));
    test::WriteDatabase(root_ / "SYSTEM\\UPDATE\\maintenance.sys",
                        Stamped("AB002", {{int32_t{1}, std::string("shipped")}}));
    ASSERT_TRUE(Run(L" app.mdb"));
    EXPECT_EQ(ReadText(root_ / "SYSTEM\\maintenance.sys"),
              Stamped("AB002", {{int32_t{1}, std::string("ユーザーの")}}).Text());
    EXPECT_FALSE(Exists(root_ / "SYSTEM\\UPDATE\\maintenance.sys"));
    EXPECT_TRUE(Exists(RecordFile()));
}

TEST_F(UpdatedInstallation, AFailedCarryOverStartsNothing) {
    const test::Store installed = Stamped("AB001", {{int32_t{1}, std::string("mine")}});
    test::WriteDatabase(root_ / "SYSTEM\\maintenance.sys", installed);
    test::WriteDatabase(root_ / "SYSTEM\\UPDATE\\maintenance.sys",
                        test::StampDatabase("T00_製品情報", std::string("AB002")));
    ASSERT_TRUE(Run(L" app.mdb"));
    EXPECT_EQ(ReadText(root_ / "SYSTEM\\maintenance.sys"), installed.Text());
    EXPECT_TRUE(Exists(root_ / "SYSTEM\\UPDATE\\maintenance.sys"));
    EXPECT_FALSE(Exists(RecordFile()));
}

}  // namespace
}  // namespace p2::win32
