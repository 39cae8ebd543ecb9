// The application port on Windows: title, instance mutex, module path, command line, MessageBoxW.
#include <string>

#include "platform/Error.h"
#include "platform/win32/Api_win32.h"
#include "platform/win32/CommandLine_win32.h"
#include "platform/win32/Ports_win32.h"
#include "platform/win32/Text_win32.h"

namespace p2::win32 {
namespace {

// One name per log-on session: another user's instance on the same machine does not count.
constexpr const wchar_t* kInstanceMutexName = L"Local\\Pelorin2.P2Tool.Instance";

std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) {
            throw AppError(kErrPathFileAccess);
        }
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

Win32Application::Win32Application() = default;

Win32Application::~Win32Application() {
    if (instanceMutex_) {
        CloseHandle(instanceMutex_);
    }
}

void Win32Application::SetTitle(const std::string& title) {
    title_ = Widen(title);
}

bool AnotherInstanceRuns(bool created, unsigned long lastError) {
    return created ? lastError == ERROR_ALREADY_EXISTS : lastError == ERROR_ACCESS_DENIED;
}

bool Win32Application::PrevInstance() {
    if (!instanceTested_) {
        instanceMutex_ = CreateMutexW(nullptr, FALSE, kInstanceMutexName);
        prevInstance_ = AnotherInstanceRuns(instanceMutex_ != nullptr, GetLastError());
        instanceTested_ = true;
    }
    return prevInstance_;
}

std::string Win32Application::ProgramFolder() {
    const std::wstring path = ModulePath();
    const auto last = path.rfind(L'\\');
    return Narrow(last == std::wstring::npos ? std::wstring() : path.substr(0, last));
}

std::string Win32Application::ArgumentText() {
    return Narrow(ArgumentsOf(GetCommandLineW(), ModulePath()));
}

void Win32Application::MessageBox(const std::string& text, MessageStyle style) {
    // No window of our own: the box is brought to the front so that it is not lost behind
    // another program's window.
    MessageBoxW(nullptr, Widen(text).c_str(), title_.c_str(),
                static_cast<UINT>(style) | MB_SETFOREGROUND);
}

}  // namespace p2::win32
