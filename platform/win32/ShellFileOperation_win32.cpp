#include <string>
#include <vector>

#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Ports.h"

namespace p2::win32 {
namespace {

std::vector<std::string> Items(const std::string& list) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start < list.size() && list[start] != '\0') {
        auto end = list.find('\0', start);
        if (end == std::string::npos) {
            end = list.size();
        }
        items.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

bool Exists(const std::string& path) {
    return GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

template <class Text, class Convert>
Text List(const std::vector<std::string>& items, Convert convert) {
    Text list;
    for (const auto& item : items) {
        list += convert(item);
        list.push_back(0);
    }
    list.push_back(0);
    return list;
}

}  // namespace

int32_t Win32ShellFileOperation::Run(const FileOpRequest& request) {
    const auto from = Items(request.from);
    const auto to = Items(request.to);
    if (from.empty()) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (request.func == kFoDelete || request.func == kFoMove) {
        for (const auto& path : from) {
            if (!Exists(path)) {
                return ERROR_FILE_NOT_FOUND;
            }
        }
    }

    bool exact = true;
    for (const auto& path : from) {
        bool representable = true;
        ToAnsi(path, &representable);
        exact = exact && representable;
    }
    for (const auto& path : to) {
        bool representable = true;
        ToAnsi(path, &representable);
        exact = exact && representable;
    }

    if (exact) {
        const auto ansiFrom =
            List<std::string>(from, [](const std::string& s) { return ToAnsi(s); });
        const auto ansiTo = List<std::string>(to, [](const std::string& s) { return ToAnsi(s); });
        SHFILEOPSTRUCTA op{};
        op.hwnd = nullptr;
        op.wFunc = request.func;
        op.pFrom = ansiFrom.c_str();
        op.pTo = to.empty() ? nullptr : ansiTo.c_str();
        op.fFlags = request.flags;
        return SHFileOperationA(&op);
    }
    // Names that the ANSI code page cannot spell go through the wide form.
    const auto wideFrom = List<std::wstring>(from, [](const std::string& s) { return Widen(s); });
    const auto wideTo = List<std::wstring>(to, [](const std::string& s) { return Widen(s); });
    SHFILEOPSTRUCTW op{};
    op.hwnd = nullptr;
    op.wFunc = request.func;
    op.pFrom = wideFrom.c_str();
    op.pTo = to.empty() ? nullptr : wideTo.c_str();
    op.fFlags = request.flags;
    return SHFileOperationW(&op);
}

}  // namespace p2::win32
