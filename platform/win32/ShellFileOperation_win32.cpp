// SHFileOperationW, with every move confirmed by the files themselves before it counts as done.
#include <string>
#include <vector>

#include "platform/win32/Api_win32.h"
#include "platform/win32/Ports_win32.h"
#include "platform/win32/Text_win32.h"

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

bool AnyExists(const std::vector<std::string>& paths) {
    for (const auto& path : paths) {
        if (Exists(path)) {
            return true;
        }
    }
    return false;
}

bool AllExist(const std::vector<std::string>& paths) {
    for (const auto& path : paths) {
        if (!Exists(path)) {
            return false;
        }
    }
    return true;
}

std::wstring WideList(const std::vector<std::string>& items) {
    std::wstring list;
    for (const auto& item : items) {
        list += Widen(item);
        list.push_back(L'\0');
    }
    list.push_back(L'\0');
    return list;
}

}  // namespace

int32_t ConfirmedResult(uint32_t func, int32_t result, bool aborted, bool sourceLeft,
                        bool destinationThere) {
    if (result != 0) {
        return result;
    }
    if (aborted) {
        return ERROR_CANCELLED;
    }
    // Wine answers 0 for a move that a sharing violation refused, and nothing tells the
    // caller which file was affected: the files themselves are the answer.
    if (sourceLeft || (func == kFoMove && !destinationThere)) {
        return ERROR_WRITE_FAULT;
    }
    return 0;
}

int32_t Win32ShellFileOperation::Run(const FileOpRequest& request) {
    const auto from = Items(request.from);
    const auto to = Items(request.to);
    if (from.empty()) {
        return ERROR_FILE_NOT_FOUND;
    }
    if ((request.func == kFoDelete || request.func == kFoMove) && !AllExist(from)) {
        return ERROR_FILE_NOT_FOUND;
    }

    // Always the wide form: the ANSI one silently spells a name the code page lacks with a
    // look-alike (é as e, ～ as ~) and so acts on another file, or on none.
    const std::wstring wideFrom = WideList(from);
    const std::wstring wideTo = WideList(to);
    SHFILEOPSTRUCTW op{};
    op.hwnd = nullptr;
    op.wFunc = request.func;
    op.pFrom = wideFrom.c_str();
    op.pTo = to.empty() ? nullptr : wideTo.c_str();
    op.fFlags = request.flags;
    const int result = SHFileOperationW(&op);
    if (request.func != kFoDelete && request.func != kFoMove) {
        return result;
    }
    return ConfirmedResult(request.func, result, op.fAnyOperationsAborted != FALSE, AnyExists(from),
                           to.empty() || AllExist(to));
}

}  // namespace p2::win32
