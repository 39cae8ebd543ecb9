#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/Workgroup.h"
#include "win32/Win32TestSupport.h"
#include "win32/engine/EngineTestSupport.h"

namespace p2::win32 {
namespace {

using test::BinFolder;
using test::Exists;
using test::ReadText;
using test::SetAttributes;
using test::TempFolder;
using test::W;
using test::WriteText;

constexpr const wchar_t* kAccessClassKey =
    L"Software\\Classes\\Access.Application.10\\shell\\open\\command";

// An installation: install root with SYSTEM and LAN beside the program folder P2, which holds
// a copy of the built launcher. Access is the recording stand-in of the build.
class InstalledLauncher : public ::testing::Test {
  protected:
    void SetUp() override {
        CreateDirectoryW(W(root_ / "P2").c_str(), nullptr);
        CreateDirectoryW(W(root_ / "SYSTEM").c_str(), nullptr);
        CreateDirectoryW(W(root_ / "LAN").c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(W(BinFolder() + "\\Pelorin2.exe").c_str(),
                              W(ProgramFolder() + "\\Pelorin2.exe").c_str(), FALSE));
        accessPath_ = BinFolder() + "\\MSACCESS.EXE";
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAccessClassKey, 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const std::wstring command = L"\"" + W(accessPath_) + L"\" /NOSTARTUP \"%1\"";
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                       static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }

    std::string ProgramFolder() const { return root_ / "P2"; }
    std::string RecordFile() const { return root_ / "record.txt"; }

    // Runs the launcher with `arguments` and waits (bounded) until it has ended and whatever
    // it started has written its record. Answers false when the launcher did not end in time.
    bool Run(const std::wstring& arguments) {
        test::ScopedEnvironment environment({{L"P2_RECORD_FILE", W(RecordFile())}});
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
        return ended;
    }

    TempFolder root_;
    std::string accessPath_;
};

TEST_F(InstalledLauncher, StartsAccessWithTheExactCommandLine) {
    WriteText(ProgramFolder() + "\\販売 管理.mdb", "x");
    ASSERT_TRUE(Run(L" \"Z:\\elsewhere\\販売 管理.mdb\""));
    ASSERT_TRUE(Exists(RecordFile()));
    const std::string folder = ProgramFolder();
    EXPECT_EQ(ReadText(RecordFile()), "\"" + accessPath_ + "\" /Runtime \"" + folder +
                                          "\\販売 管理.mdb\" /Wrkgrp \"" + folder +
                                          "\\Pelorin2.wgf\" /User " + GetWorkgroupUser() +
                                          " /Pwd " + GetWorkgroupPassword());
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
