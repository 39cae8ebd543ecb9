// The command line as Windows hands it over: the program's name and the argument text after it.
#include "platform/win32/CommandLine_win32.h"

#include <string>

#include "platform/win32/Api_win32.h"

namespace p2::win32 {

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

}  // namespace p2::win32
