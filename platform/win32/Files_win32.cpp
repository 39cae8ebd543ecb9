// The file port on Windows: FindFirstFileW with attribute filtering, last-write times,
// DeleteFileW.
#include <string>
#include <vector>

#include "platform/Error.h"
#include "platform/win32/Api_win32.h"
#include "platform/win32/Errors_win32.h"
#include "platform/win32/Ports_win32.h"
#include "platform/win32/Text_win32.h"

namespace p2::win32 {
namespace {

class FindHandle {
  public:
    FindHandle(const std::wstring& pattern, WIN32_FIND_DATAW& data)
        : handle_(FindFirstFileW(pattern.c_str(), &data)) {}
    ~FindHandle() {
        if (valid()) {
            FindClose(handle_);
        }
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    // False at the end of the listing; any other failure raises.
    bool Next(WIN32_FIND_DATAW& data) {
        if (FindNextFileW(handle_, &data)) {
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_NO_MORE_FILES) {
            throw AppError(ErrorNumberOfWin32(error));
        }
        return false;
    }

  private:
    HANDLE handle_;
};

bool Accepted(const WIN32_FIND_DATAW& data, bool hidden) {
    const DWORD never = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM;
    if (data.dwFileAttributes & never) {
        return false;
    }
    return hidden || !(data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN);
}

// Whole seconds between 1601-01-01 and 1970-01-01, and FILETIME ticks per second.
constexpr int64_t kEpochDifference = 11644473600LL;
constexpr int64_t kTicksPerSecond = 10000000LL;

}  // namespace

std::string Win32Files::Lookup(const std::string& path, int attributes) {
    // A pattern is not a file name: nothing it might match counts as found.
    if (path.empty() || path.find_first_of("*?") != std::string::npos) {
        return {};
    }
    WIN32_FIND_DATAW data{};
    FindHandle find(Widen(path), data);
    if (!find.valid() || !Accepted(data, (attributes & kAttrHidden) != 0)) {
        return {};
    }
    return Narrow(data.cFileName);
}

std::vector<std::string> Win32Files::ListFiles(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW data{};
    FindHandle find(Widen(folder + "\\*.*"), data);
    if (!find.valid()) {
        // Only a missing folder is an empty one: a folder that cannot be read (no right to
        // it, a share gone) must not let the pass succeed on what it did not see.
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            error == ERROR_NO_MORE_FILES) {
            return names;
        }
        throw AppError(ErrorNumberOfWin32(error));
    }
    do {
        if (Accepted(data, true)) {
            names.push_back(Narrow(data.cFileName));
        }
    } while (find.Next(data));
    return names;
}

int64_t Win32Files::ModificationTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(Widen(path).c_str(), GetFileExInfoStandard, &data)) {
        throw AppError(ErrorNumberOfWin32(GetLastError()));
    }
    const int64_t ticks = (static_cast<int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                          data.ftLastWriteTime.dwLowDateTime;
    return ticks / kTicksPerSecond - kEpochDifference;
}

void Win32Files::DeleteFile(const std::string& path) {
    if (!DeleteFileW(Widen(path).c_str())) {
        throw AppError(ErrorNumberOfWin32(GetLastError()));
    }
}

}  // namespace p2::win32
