// Child program of the Windows port tests. P2_HELPER_MODE says what it does:
//   report    writes its argument text, a line feed and its program folder to P2_HELPER_OUT;
//   instance  takes the instance test, signals P2_HELPER_READY, waits for P2_HELPER_QUIT;
//   lock      opens P2_HELPER_FILE without sharing, then signals and waits the same way;
//   append    opens it for appending as a copier does (others may read), signals, waits, then
//             appends P2_HELPER_TEXT (ASCII) and closes it.
#include <cstdio>
#include <string>

#include "platform/win32/Api_win32.h"
#include "platform/win32/Ports_win32.h"

namespace {

std::wstring Env(const wchar_t* name) {
    wchar_t buffer[32768];
    const DWORD n = GetEnvironmentVariableW(name, buffer, 32768);
    return n > 0 && n < 32768 ? std::wstring(buffer, n) : std::wstring();
}

int SignalAndWait() {
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, Env(L"P2_HELPER_READY").c_str());
    HANDLE quit = OpenEventW(SYNCHRONIZE, FALSE, Env(L"P2_HELPER_QUIT").c_str());
    if (!ready || !quit) {
        return 3;
    }
    SetEvent(ready);
    // Bounded, so that a failed test never leaves the child behind.
    WaitForSingleObject(quit, 60000);
    return 0;
}

}  // namespace

int wmain() {
    const std::wstring mode = Env(L"P2_HELPER_MODE");
    if (mode == L"report") {
        p2::win32::Win32Application app;
        const std::string text = app.ArgumentText() + "\n" + app.ProgramFolder();
        FILE* out = _wfopen(Env(L"P2_HELPER_OUT").c_str(), L"wb");
        if (!out) {
            return 2;
        }
        std::fwrite(text.data(), 1, text.size(), out);
        std::fclose(out);
        return 0;
    }
    if (mode == L"instance") {
        p2::win32::Win32Application app;
        if (app.PrevInstance()) {
            return 4;
        }
        return SignalAndWait();
    }
    if (mode == L"lock") {
        HANDLE file = CreateFileW(Env(L"P2_HELPER_FILE").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return 5;
        }
        const int status = SignalAndWait();
        CloseHandle(file);
        return status;
    }
    if (mode == L"append") {
        HANDLE file = CreateFileW(Env(L"P2_HELPER_FILE").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return 5;
        }
        const int status = SignalAndWait();
        const std::wstring rest = Env(L"P2_HELPER_TEXT");
        const std::string bytes(rest.begin(), rest.end());
        DWORD written = 0;
        const bool appended =
            WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
        CloseHandle(file);
        return appended ? status : 6;
    }
    return 1;
}
