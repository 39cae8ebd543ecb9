// Shared by the Windows port and end-to-end tests: temporary folders, files, and child
// programs with bounded waits.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/Api_win32.h"
#include "platform/win32/Ports_win32.h"
#include "platform/win32/Text_win32.h"

namespace p2::win32::test {

inline std::wstring W(const std::string& utf8) {
    return Widen(utf8);
}

// The folder of the running test program, where the helper programs are built.
inline std::string BinFolder() {
    wchar_t path[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring full(path, n);
    return Narrow(full.substr(0, full.rfind(L'\\')));
}

// The machine's classes in the view a 32-bit program reads on 64-bit Windows (the one the
// launcher reads; 32-bit Windows ignores the flag): `subKey` below HKLM\Software\Classes.
constexpr REGSAM kClassesView = KEY_WOW64_32KEY;

inline HKEY CreateClassesKey(const std::string& subKey) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\" + W(subKey)).c_str(), 0,
                        nullptr, 0, KEY_ALL_ACCESS | kClassesView, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

inline void DeleteClassesTree(const std::string& subKey) {
    HKEY classes = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, KEY_ALL_ACCESS | kClassesView,
                      &classes) == ERROR_SUCCESS) {
        RegDeleteTreeW(classes, W(subKey).c_str());
        RegCloseKey(classes);
    }
}

// Sets a file's last-write time; false when the file cannot be opened or set.
inline bool SetWriteTime(const std::string& path, int64_t secondsSinceEpoch, long nanoseconds = 0) {
    const int64_t ticks = (secondsSinceEpoch + 11644473600LL) * 10000000LL + nanoseconds / 100;
    FILETIME time{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
    HANDLE file = CreateFileW(W(path).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool set = SetFileTime(file, nullptr, nullptr, &time) != FALSE;
    CloseHandle(file);
    return set;
}

inline void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring path = folder + L"\\" + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}

// A fresh folder, removed with everything in it at the end.
class TempFolder {
  public:
    explicit TempFolder(const std::string& base = {}) {
        std::wstring root;
        if (base.empty()) {
            wchar_t temp[MAX_PATH + 1];
            GetTempPathW(MAX_PATH + 1, temp);
            root = temp;
        } else {
            root = W(base) + L"\\";
        }
        static unsigned counter = 0;
        for (;;) {
            path_ = root + L"p2test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                    std::to_wstring(++counter);
            if (CreateDirectoryW(path_.c_str(), nullptr)) {
                break;
            }
        }
    }
    ~TempFolder() { RemoveTree(path_); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string Path() const { return Narrow(path_); }
    std::string operator/(const std::string& name) const { return Path() + "\\" + name; }

  private:
    std::wstring path_;
};

inline void WriteText(const std::string& path, const std::string& text) {
    HANDLE file = CreateFileW(W(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

inline bool Exists(const std::string& path) {
    return GetFileAttributesW(W(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::string ReadText(const std::string& path, DWORD sharing = FILE_SHARE_READ) {
    HANDLE file = CreateFileW(W(path).c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string text;
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        text.append(buffer, n);
    }
    CloseHandle(file);
    return text;
}

inline void SetAttributes(const std::string& path, DWORD attributes) {
    SetFileAttributesW(W(path).c_str(), attributes);
}

// Environment entries for a child, set in this process for the start and restored after.
using Environment = std::vector<std::pair<std::wstring, std::wstring>>;

class ScopedEnvironment {
  public:
    explicit ScopedEnvironment(const Environment& entries) {
        for (const auto& [name, value] : entries) {
            wchar_t old[32768];
            const DWORD n = GetEnvironmentVariableW(name.c_str(), old, 32768);
            saved_.push_back({name, n > 0 ? std::wstring(old, n) : std::wstring(), n > 0});
            SetEnvironmentVariableW(name.c_str(), value.c_str());
        }
    }
    ~ScopedEnvironment() {
        for (const auto& entry : saved_) {
            SetEnvironmentVariableW(entry.name.c_str(),
                                    entry.present ? entry.value.c_str() : nullptr);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    struct Saved {
        std::wstring name;
        std::wstring value;
        bool present;
    };
    std::vector<Saved> saved_;
};

// A started child process; killed if still running at the end.
class Child {
  public:
    Child(const std::wstring& commandLine, const Environment& environment) {
        ScopedEnvironment scoped(environment);
        std::wstring line = commandLine;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        started_ = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &info_) != FALSE;
        if (started_) {
            CloseHandle(info_.hThread);
        }
    }
    ~Child() {
        if (started_) {
            if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
                TerminateProcess(info_.hProcess, 99);
                WaitForSingleObject(info_.hProcess, 10000);
            }
            CloseHandle(info_.hProcess);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    bool Started() const { return started_; }
    // The exit code, or -1 when the child did not end within the bound.
    long Wait(DWORD milliseconds = 60000) {
        if (!started_ || WaitForSingleObject(info_.hProcess, milliseconds) != WAIT_OBJECT_0) {
            return -1;
        }
        DWORD code = 0;
        GetExitCodeProcess(info_.hProcess, &code);
        return static_cast<long>(code);
    }
    void Kill() { TerminateProcess(info_.hProcess, 98); }
    HANDLE Handle() const { return info_.hProcess; }

  private:
    PROCESS_INFORMATION info_{};
    bool started_ = false;
};

// A helper child that signals when it is ready and stays until released.
class HeldChild {
  public:
    HeldChild(const std::wstring& mode, const Environment& extra = {}) {
        static unsigned counter = 0;
        const std::wstring id =
            std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
        readyName_ = L"P2TestReady-" + id;
        quitName_ = L"P2TestQuit-" + id;
        ready_ = CreateEventW(nullptr, TRUE, FALSE, readyName_.c_str());
        quit_ = CreateEventW(nullptr, TRUE, FALSE, quitName_.c_str());
        Environment environment = extra;
        environment.push_back({L"P2_HELPER_MODE", mode});
        environment.push_back({L"P2_HELPER_READY", readyName_});
        environment.push_back({L"P2_HELPER_QUIT", quitName_});
        child_ = std::make_unique<Child>(L"\"" + W(BinFolder()) + L"\\p2_win32_helper.exe\"",
                                         environment);
        HANDLE waits[] = {ready_, child_->Handle()};
        ready =
            child_->Started() && WaitForMultipleObjects(2, waits, FALSE, 60000) == WAIT_OBJECT_0;
    }
    ~HeldChild() {
        Release();
        CloseHandle(ready_);
        CloseHandle(quit_);
    }
    HeldChild(const HeldChild&) = delete;
    HeldChild& operator=(const HeldChild&) = delete;
    long Release() {
        SetEvent(quit_);
        return child_->Wait();
    }
    void Kill() {
        child_->Kill();
        child_->Wait();
    }
    bool ready = false;

  private:
    std::wstring readyName_;
    std::wstring quitName_;
    HANDLE ready_ = nullptr;
    HANDLE quit_ = nullptr;
    std::unique_ptr<Child> child_;
};

}  // namespace p2::win32::test
