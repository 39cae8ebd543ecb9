// Starting Access on Windows: CreateProcessW with a normal window, not waited for.
#include <string>

#include "platform/Error.h"
#include "platform/win32/Api_win32.h"
#include "platform/win32/Ports_win32.h"

namespace p2::win32 {
namespace {

int32_t StartErrorNumber(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return kErrFileNotFound;
        case ERROR_ACCESS_DENIED:
        case ERROR_BAD_EXE_FORMAT:
            return kErrPermissionDenied;
        default:
            return kErrPathFileAccess;
    }
}

}  // namespace

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
        throw AppError(StartErrorNumber(GetLastError()));
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return info.dwProcessId;
}

}  // namespace p2::win32
