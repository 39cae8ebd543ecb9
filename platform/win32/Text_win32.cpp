// UTF-8 to UTF-16 and the ANSI code page and back; the argument text; Win32 errors as error
// numbers.
#include <string>

#include "platform/Error.h"
#include "platform/win32/Api_win32.h"
#include "platform/win32/Ports_win32.h"

namespace p2::win32 {
namespace {

int Length(size_t size) {
    if (size > 0x3FFFFFFF) {
        throw AppError(kErrOverflow);
    }
    return static_cast<int>(size);
}

std::wstring ToWide(UINT codePage, DWORD flags, std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int n =
        MultiByteToWideChar(codePage, flags, text.data(), Length(text.size()), nullptr, 0);
    if (n <= 0) {
        throw AppError(kErrInvalidArgument);
    }
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, flags, text.data(), Length(text.size()), wide.data(), n);
    return wide;
}

std::string FromWide(UINT codePage, std::wstring_view text, bool* exact) {
    if (exact) {
        *exact = true;
    }
    if (text.empty()) {
        return {};
    }
    // The default-character report is refused for the UTF code pages, which represent all;
    // the ANSI code page is one of them when Windows is set to "Use Unicode UTF-8".
    BOOL usedDefault = FALSE;
    const UINT actual = codePage == CP_ACP ? GetACP() : codePage;
    const bool check = exact && actual != CP_UTF8 && actual != CP_UTF7;
    const int n = WideCharToMultiByte(codePage, 0, text.data(), Length(text.size()), nullptr, 0,
                                      nullptr, check ? &usedDefault : nullptr);
    if (n <= 0) {
        throw AppError(kErrInvalidArgument);
    }
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), Length(text.size()), out.data(), n, nullptr,
                        nullptr);
    if (check && usedDefault) {
        *exact = false;
    }
    return out;
}

}  // namespace

std::wstring Widen(std::string_view text) {
    return ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, text);
}

std::string Narrow(std::wstring_view text) {
    return FromWide(CP_UTF8, text, nullptr);
}

std::string ToAnsi(std::string_view text, bool* exact) {
    return FromWide(CP_ACP, Widen(text), exact);
}

std::string FromAnsi(std::string_view text) {
    return Narrow(ToWide(CP_ACP, 0, text));
}

std::wstring ProgramNameOf(std::wstring_view commandLine) {
    if (!commandLine.empty() && commandLine[0] == L'"') {
        const auto closing = commandLine.find(L'"', 1);
        return std::wstring(commandLine.substr(
            1, closing == std::wstring_view::npos ? std::wstring_view::npos : closing - 1));
    }
    const auto blank = commandLine.find_first_of(L" \t");
    return std::wstring(commandLine.substr(0, blank));
}

std::wstring ArgumentsOf(std::wstring_view commandLine) {
    size_t end = 0;
    if (!commandLine.empty() && commandLine[0] == L'"') {
        const auto closing = commandLine.find(L'"', 1);
        end = closing == std::wstring_view::npos ? commandLine.size() : closing + 1;
    } else {
        const auto blank = commandLine.find_first_of(L" \t");
        end = blank == std::wstring_view::npos ? commandLine.size() : blank;
    }
    if (end < commandLine.size() && (commandLine[end] == L' ' || commandLine[end] == L'\t')) {
        ++end;  // the one blank that separates the name from its arguments
    }
    return std::wstring(commandLine.substr(end));
}

std::wstring ArgumentsOf(std::wstring_view commandLine, std::wstring_view modulePath) {
    const size_t n = modulePath.size();
    if (n == 0 || commandLine.size() < n ||
        (commandLine.size() > n && commandLine[n] != L' ' && commandLine[n] != L'\t')) {
        return ArgumentsOf(commandLine);
    }
    std::wstring start(commandLine.substr(0, n));
    std::wstring module(modulePath);
    CharUpperBuffW(start.data(), static_cast<DWORD>(n));
    CharUpperBuffW(module.data(), static_cast<DWORD>(n));
    if (start != module) {
        return ArgumentsOf(commandLine);
    }
    return std::wstring(commandLine.substr(commandLine.size() > n ? n + 1 : n));
}

int32_t FileErrorNumber(unsigned long win32Error) {
    switch (win32Error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            return kErrFileNotFound;
        case ERROR_ACCESS_DENIED:
        case ERROR_NETWORK_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_BAD_EXE_FORMAT:
            return kErrPermissionDenied;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return kErrOutOfMemory;
        default:
            return kErrPathFileAccess;
    }
}

}  // namespace p2::win32
