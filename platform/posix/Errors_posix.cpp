// The one place where Linux's error numbers are translated: the callers keep the question of
// which failures they expect, this file the answer of what each one means on Windows.
#include "platform/posix/Errors_posix.h"

#include <cerrno>

#include "platform/posix/FileOpResult_posix.h"

namespace p2::posix {

int32_t ErrorNumberOfErrno(int error, int32_t otherwise) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return kErrFileNotFound;
        case EACCES:
        case EPERM:
        case EROFS:
        case ENOEXEC:
            return kErrPermissionDenied;
        case EEXIST:
            return kErrFileAlreadyExists;
        case ENOMEM:
            return kErrOutOfMemory;
        default:
            return otherwise;
    }
}

int32_t Win32CodeOfErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return kNotFound;
        case EACCES:
        case EPERM:
        case EROFS:
            return kAccessDenied;
        case EISDIR:
        case ENOTEMPTY:
            return kNotAFile;
        case EBUSY:
        case ETXTBSY:
            return kInUse;
        default:
            return kIoFailure;
    }
}

}  // namespace p2::posix
