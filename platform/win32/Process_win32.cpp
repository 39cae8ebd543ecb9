// Starting Access on Windows: CreateProcessW with a normal window, not waited for.
#include <string>

#include "platform/Error.h"
#include "platform/win32/Api_win32.h"
#include "platform/win32/CommandLine_win32.h"
#include "platform/win32/Errors_win32.h"
#include "platform/win32/Ports_win32.h"
#include "platform/win32/Text_win32.h"

namespace p2::win32 {
int64_t Win32Process::Shell(const std::string& commandLine, WindowStyle style) {
    // The program is named explicitly, so that an unquoted path with blanks is never tried
    // piece by piece.
    const std::wstring line = Widen(commandLine);
    const std::wstring program = ProgramNameOf(line);
    if (program.empty()) {
        throw AppError(kErrFileNotFound);
    }
    std::wstring mutableLine = line;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(style);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        throw AppError(ErrorNumberOfWin32(GetLastError()));
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return info.dwProcessId;
}

}  // namespace p2::win32
