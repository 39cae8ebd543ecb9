// What the file operation would answer on Windows, found by looking only: the ground of a plan.
#include <string>

#include "platform/win32/Api_win32.h"
#include "platform/win32/PlanPorts_win32.h"
#include "platform/win32/Ports_win32.h"
#include "platform/win32/Text_win32.h"

namespace p2::win32 {
namespace {

std::string FirstPath(const std::string& list) {
    return list.substr(0, list.find('\0'));
}

DWORD Attributes(const std::string& path) {
    return GetFileAttributesW(Widen(path).c_str());
}

}  // namespace

int32_t Win32FileOpCheck::Answer(const FileOpRequest& request) {
    const std::string from = FirstPath(request.from);
    const DWORD source = from.empty() ? INVALID_FILE_ATTRIBUTES : Attributes(from);
    if (source == INVALID_FILE_ATTRIBUTES) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (InUse(from)) {
        return ERROR_SHARING_VIOLATION;
    }
    if (request.func != kFoMove) {
        return request.func == kFoDelete ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    }
    const std::string to = FirstPath(request.to);
    const DWORD destination = Attributes(to);
    if (destination != INVALID_FILE_ATTRIBUTES && (destination & FILE_ATTRIBUTE_DIRECTORY)) {
        return ERROR_ACCESS_DENIED;  // a folder of that name is no file to replace
    }
    return destination != INVALID_FILE_ATTRIBUTES && InUse(to) ? ERROR_SHARING_VIOLATION
                                                               : ERROR_SUCCESS;
}

// A file that another program holds without sharing its deletion cannot be replaced or
// deleted; asking for that right shows it, and the handle is closed at once.
bool Win32FileOpCheck::InUse(const std::string& path) {
    HANDLE file = CreateFileW(Widen(path).c_str(), DELETE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_SHARING_VIOLATION;
    }
    CloseHandle(file);
    return false;
}

namespace {

// A handle for reading, sharing what `share` allows; whether the open was refused for sharing.
bool SharingRefused(const std::string& path, DWORD share) {
    HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_SHARING_VIOLATION;
    }
    CloseHandle(file);
    return false;
}

}  // namespace

// Refused a reader that will not share writing, granted one that will: another handle writes.
bool Win32FileOpCheck::OpenForWriting(const std::string& path) {
    return SharingRefused(path, FILE_SHARE_READ | FILE_SHARE_DELETE) &&
           !SharingRefused(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
}

}  // namespace p2::win32
