// The Win32 ports held to the port contracts, under Wine, in temporary folders and a test key.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "contracts/FilesContract.h"
#include "contracts/ProcessContract.h"
#include "contracts/RegistryContract.h"
#include "contracts/ShellFileOperationContract.h"
#include "win32/Win32TestSupport.h"

namespace p2::contract {
namespace {

using win32::test::W;

// Where the test key lies: HKEY_CLASSES_ROOT shows it from here.
constexpr const char* kClassesKey = "P2PortTest.Application";

class Win32World {
  public:
    static constexpr bool kHasAttributes = true;
    // Wine, run as root, cannot be made to refuse a listing for want of rights;
    // ListingThatIsRefusedRaises checks the translation of such a refusal.
    static constexpr bool kCanDenyListing = false;
    static constexpr const char* kWhyNoDeniedListing =
        "Wine cannot refuse a listing for want of rights";
    // Windows leaves the buffer undefined when the data does not fit.
    static constexpr bool kKeepsBufferOnMoreData = false;

    Win32World() { win32::test::DeleteClassesTree(kClassesKey); }
    ~Win32World() { win32::test::DeleteClassesTree(kClassesKey); }
    Win32World(const Win32World&) = delete;
    Win32World& operator=(const Win32World&) = delete;

    Files& files() { return files_; }
    ShellFileOperation& shell() { return shell_; }
    Process& process() { return process_; }
    Registry& registry() { return registry_; }

    std::string Path(const std::string& name) const {
        if (name.empty()) {
            return folder_.Path();
        }
        std::string path = folder_ / name;
        for (char& c : path) {
            c = c == '/' ? '\\' : c;
        }
        return path;
    }
    void Write(const std::string& name, const std::string& bytes, Attribute attribute = kPlain) {
        win32::test::WriteText(Path(name), bytes);
        const DWORD attributes[] = {0, FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM,
                                    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN,
                                    FILE_ATTRIBUTE_READONLY};
        if (attribute != kPlain) {
            win32::test::SetAttributes(Path(name), attributes[attribute]);
        }
    }
    void MakeFolder(const std::string& name) {
        ASSERT_TRUE(CreateDirectoryW(W(Path(name)).c_str(), nullptr));
    }
    bool Exists(const std::string& name) { return win32::test::Exists(Path(name)); }
    std::string Read(const std::string& name) { return win32::test::ReadText(Path(name)); }
    void SetTime(const std::string& name, int64_t seconds, long nanoseconds) {
        EXPECT_TRUE(win32::test::SetWriteTime(Path(name), seconds, nanoseconds));
    }
    void Protect(const std::string& name) {
        win32::test::SetAttributes(Path(name), FILE_ATTRIBUTE_READONLY);
    }
    int32_t ErrorAsUser(const std::function<void()>& call) { return ErrorOf(call); }

    // A child that has the file open without sharing.
    std::unique_ptr<win32::test::HeldChild> Hold(const std::string& name) {
        return std::make_unique<win32::test::HeldChild>(
            L"lock", win32::test::Environment{{L"P2_HELPER_FILE", W(Path(name))}});
    }

    // The helper program, told to write the argument text it sees.
    std::string Recorder() {
        environment_.emplace(win32::test::Environment{{L"P2_HELPER_MODE", L"report"},
                                                      {L"P2_HELPER_OUT", W(Path("report.txt"))}});
        return win32::test::BinFolder() + "\\p2_win32_helper.exe";
    }
    // Waits for the started process by its identifier, then reads what it wrote.
    std::string RecordedArguments(int64_t id) {
        HANDLE child = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
        if (child == nullptr) {
            return "<no process of that identifier>";
        }
        const DWORD waited = WaitForSingleObject(child, 60000);
        CloseHandle(child);
        if (waited != WAIT_OBJECT_0) {
            return "<the process did not end>";
        }
        const std::string text = Read("report.txt");
        return text.substr(0, text.find('\n'));
    }

    void Put(const std::string& valueName, uint32_t type, const std::string& bytes) {
        HKEY key =
            win32::test::CreateClassesKey(std::string(kClassesKey) + "\\shell\\open\\command");
        ASSERT_NE(key, nullptr);
        std::wstring text;
        const void* data = bytes.data();
        DWORD size = static_cast<DWORD>(bytes.size());
        if (type != kRegDword) {
            text = W(bytes) + L'\0';
            data = text.data();
            size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        }
        EXPECT_EQ(RegSetValueExW(key, W(valueName).c_str(), 0, type, static_cast<const BYTE*>(data),
                                 size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

  private:
    win32::test::TempFolder folder_;
    win32::Win32Files files_;
    win32::Win32ShellFileOperation shell_;
    win32::Win32Process process_;
    win32::Win32Registry registry_;
    std::optional<win32::test::ScopedEnvironment> environment_;
};

P2_INSTANTIATE_PORT_CONTRACTS(Win32, Win32World);

}  // namespace
}  // namespace p2::contract
