// The answers of the shell-file-operation stand-in, shared by the operation and by the check
// that predicts it.
#pragma once

#include <cstdint>
#include <string>

namespace p2::posix {

// The non-zero results, after the Win32 error numbers that the Windows service answers with:
enum FileOpResult : int32_t {
    kDone = 0,
    kNotFound = 2,        // the source, or the file to delete, does not exist
    kAccessDenied = 5,    // no right to change a folder, or a read-only file system
    kInUse = 32,          // another process locks, or writes, the source or the destination
    kBadRequest = 87,     // not exactly one path per list, or an unknown function
    kNotAFile = 267,      // a folder or other non-file where a file is needed
    kIoFailure = 29,      // reading, writing or syncing failed; nothing was changed
    kSourceLeftOver = 1,  // moved across file systems, but the source could not be removed
};

// "path\0\0" with exactly one non-empty path.
inline bool SinglePath(const std::string& list, std::string& path) {
    const size_t end = list.find('\0');
    if (end == std::string::npos || end == 0 || list.size() != end + 2 || list[end + 1] != '\0') {
        return false;
    }
    path = list.substr(0, end);
    return true;
}

}  // namespace p2::posix
