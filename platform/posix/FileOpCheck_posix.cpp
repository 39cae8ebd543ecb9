// What the file operation would answer, found by looking only: the ground of a plan.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/Errors_posix.h"
#include "platform/posix/FileLock_posix.h"
#include "platform/posix/FileOpResult_posix.h"
#include "platform/posix/PlanPorts_posix.h"
#include "platform/posix/SideFiles_posix.h"

namespace p2::posix {
namespace {

// Both a rename and an unlink need the right to change the folder that holds the name.
bool FolderWritable(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    return faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

int32_t MoveAnswer(const std::string& source, const std::string& destination) {
    struct stat info {};
    if (stat(source.c_str(), &info) != 0) {
        return Win32CodeOfErrno(errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return kNotAFile;
    }
    struct stat target {};
    if (stat(destination.c_str(), &target) == 0 && !S_ISREG(target.st_mode)) {
        return kNotAFile;
    }
    if (lstat(destination.c_str(), &target) == 0 && !S_ISREG(target.st_mode) &&
        !S_ISLNK(target.st_mode)) {
        return kNotAFile;
    }
    if (HeldByAnotherProcess(source) || HeldByAnotherProcess(destination) ||
        !MoveAllowedBySideFiles(source, destination)) {
        return kInUse;
    }
    return FolderWritable(source) && FolderWritable(destination) ? kDone : kAccessDenied;
}

int32_t DeleteAnswer(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return Win32CodeOfErrno(errno);
    }
    if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) {
        return kNotAFile;
    }
    if (HeldByAnotherProcess(path) || !DeleteAllowedBySideFiles(path)) {
        return kInUse;
    }
    return FolderWritable(path) ? kDone : kAccessDenied;
}

}  // namespace

int32_t PosixFileOpCheck::Answer(const FileOpRequest& request) {
    std::string from;
    std::string to;
    if (!SinglePath(request.from, from)) {
        return kBadRequest;
    }
    if (request.func == kFoMove) {
        return SinglePath(request.to, to) ? MoveAnswer(from, to) : kBadRequest;
    }
    return request.func == kFoDelete ? DeleteAnswer(from) : kBadRequest;
}

bool PosixFileOpCheck::InUse(const std::string& path) {
    return HeldByAnotherProcess(path);
}

bool PosixFileOpCheck::OpenForWriting(const std::string& path) {
    return OpenForWritingByAnotherProcess(path);
}

}  // namespace p2::posix
