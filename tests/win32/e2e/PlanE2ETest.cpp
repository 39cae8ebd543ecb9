// p2wg.exe plan on an installation with the stand-in DAO engine: what the start would do,
// with nothing changed.
#include <gtest/gtest.h>

#include <string>

#include "launcher/Workgroup.h"
#include "win32/Win32TestSupport.h"
#include "win32/engine/EngineTestSupport.h"

namespace p2::win32 {
namespace {

using test::BinFolder;
using test::Exists;
using test::ReadText;
using test::W;
using test::WriteText;

// Runs `commandLine` and answers its exit code and standard output.
std::pair<long, std::string> Capture(const std::wstring& commandLine) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    CreatePipe(&read, &write, &inherit, 0);
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write;
    startup.hStdError = write;
    PROCESS_INFORMATION info{};
    std::wstring line = commandLine;
    const bool started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &info) != FALSE;
    CloseHandle(write);
    std::string out;
    char buffer[4096];
    DWORD got = 0;
    while (started && ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        out.append(buffer, got);
    }
    CloseHandle(read);
    DWORD code = 0;
    if (started) {
        WaitForSingleObject(info.hProcess, 60000);
        GetExitCodeProcess(info.hProcess, &code);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
    return {started ? static_cast<long>(code) : -1, out};
}

// An installation with its workgroup file and empty update folders; false without the
// stand-in engine.
bool LayInstallation(const test::TempFolder& root) {
    CLSID clsid{};
    if (FAILED(CLSIDFromProgID(L"DAO.DBEngine.36", &clsid))) {
        return false;
    }
    for (const char* folder : {"Pelorin2", "SYSTEM", "SYSTEM\\UPDATE", "LAN", "LAN\\UPDATE"}) {
        CreateDirectoryW(W(root / folder).c_str(), nullptr);
    }
    test::WriteWorkgroup(root / "Pelorin2\\Pelorin2.wgf", GetWorkgroupUser(),
                         GetWorkgroupPassword());
    return true;
}

TEST(PlanOnWindows, SaysWhatTheStartWouldDoAndChangesNothing) {
    test::TempFolder root;
    if (!LayInstallation(root)) {
        GTEST_SKIP() << "no DAO.DBEngine.36 registered in this prefix";
    }
    test::WriteDatabase(root / "SYSTEM\\販売.mdb", test::StampDatabase("T00_製品情報", "AB001"));
    test::WriteDatabase(root / "SYSTEM\\UPDATE\\販売.mdb",
                        test::StampDatabase("T00_製品情報", "AB002"));
    WriteText(root / "LAN\\notes.txt", "old");
    WriteText(root / "LAN\\UPDATE\\notes.txt", "new");
    // Written within one second: the delivery must be the newer one to meet the held copy.
    ASSERT_TRUE(test::SetWriteTime(root / "LAN\\notes.txt", 1700000000));
    ASSERT_TRUE(test::SetWriteTime(root / "LAN\\UPDATE\\notes.txt", 1700003600));
    const std::string before = ReadText(root / "SYSTEM\\UPDATE\\販売.mdb");
    test::HeldChild reader(L"lock", {{L"P2_HELPER_FILE", W(root / "LAN\\notes.txt")}});
    ASSERT_TRUE(reader.ready);

    const auto [code, out] =
        Capture(L"\"" + W(BinFolder()) + L"\\p2wg.exe\" plan \"" + W(root.Path()) + L"\"");
    EXPECT_EQ(code, 1) << out;
    EXPECT_NE(
        out.find("  replace  販売.mdb   stamp 2 (T00_製品情報) > installed 1 (T00_製品情報)\n"),
        std::string::npos)
        << out;
    EXPECT_NE(out.find("  stop     notes.txt  not a database under the workgroup; modified "),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("; installed copy in use\n"), std::string::npos) << out;
    EXPECT_EQ(ReadText(root / "SYSTEM\\UPDATE\\販売.mdb"), before);
    EXPECT_EQ(ReadText(root / "SYSTEM\\販売.mdb"),
              test::StampDatabase("T00_製品情報", "AB001").Text());
    EXPECT_TRUE(Exists(root / "LAN\\UPDATE\\notes.txt"));
    EXPECT_EQ(reader.Release(), 0);
}

TEST(PlanOnWindows, SaysADeliveryStillBeingCopiedStopsTheStart) {
    test::TempFolder root;
    if (!LayInstallation(root)) {
        GTEST_SKIP() << "no DAO.DBEngine.36 registered in this prefix";
    }
    WriteText(root / "SYSTEM\\UPDATE\\help.txt", "first half");
    test::HeldChild copier(L"append", {{L"P2_HELPER_FILE", W(root / "SYSTEM\\UPDATE\\help.txt")}});
    ASSERT_TRUE(copier.ready);
    const auto [code, out] =
        Capture(L"\"" + W(BinFolder()) + L"\\p2wg.exe\" plan \"" + W(root.Path()) + L"\"");
    EXPECT_EQ(code, 1) << out;
    EXPECT_NE(out.find("  stop     help.txt  not a database under the workgroup; "),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("; the delivery is still open for writing by another program\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(copier.Release(), 0);
    EXPECT_EQ(ReadText(root / "SYSTEM\\UPDATE\\help.txt"), "first half");
    EXPECT_FALSE(Exists(root / "SYSTEM\\help.txt"));
}

}  // namespace
}  // namespace p2::win32
