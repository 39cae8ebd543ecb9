#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "platform/posix/FileLock_posix.h"
#include "platform/posix/FileOpResult_posix.h"
#include "platform/posix/PosixPorts.h"

namespace p2::posix {
namespace {

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Makes a rename in the folder durable.
bool SyncFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

bool CopyBytes(int from, int to) {
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = read(from, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (got == 0) {
            return true;
        }
        size_t done = 0;
        while (done < static_cast<size_t>(got)) {
            const ssize_t put = write(to, buffer.data() + done, static_cast<size_t>(got) - done);
            if (put < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            done += static_cast<size_t>(put);
        }
    }
}

// Across file systems a move is a copy: into a temporary beside the destination that takes
// the source's mode, owner and time stamp, then one rename over the destination, so that
// the installed path is never missing or partial. A link as source is moved as the contents
// of the file it names.
int32_t MoveAcross(const std::string& source, const std::string& destination) {
    const std::string folder = FolderOf(destination);
    // Removing the source is the last step; find out first whether it will be allowed.
    if (faccessat(AT_FDCWD, FolderOf(source).c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        return ResultOf(errno);
    }
    const int in = open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (in < 0) {
        return ResultOf(errno);
    }
    struct stat info {};
    if (fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(in);
        return kNotAFile;
    }
    std::string temporary = folder + "/." + NameOf(destination) + ".p2tmp-XXXXXX";
    const int out = mkostemp(temporary.data(), O_CLOEXEC);
    if (out < 0) {
        const int32_t result = ResultOf(errno);
        close(in);
        return result;
    }
    bool written = CopyBytes(in, out);
    close(in);
    if (written) {
        // The owner can be kept only with the right to give files away; that is no failure.
        [[maybe_unused]] const bool ownerKept = fchown(out, info.st_uid, info.st_gid) == 0;
        const timespec times[2] = {info.st_atim, info.st_mtim};
        written =
            fchmod(out, info.st_mode & 07777) == 0 && futimens(out, times) == 0 && fsync(out) == 0;
    }
    written = close(out) == 0 && written;
    if (!written || rename(temporary.c_str(), destination.c_str()) != 0) {
        const int32_t result = written ? ResultOf(errno) : kIoFailure;
        unlink(temporary.c_str());
        return result;
    }
    SyncFolder(folder);
    return unlink(source.c_str()) == 0 ? kDone : kSourceLeftOver;
}

int32_t Move(const std::string& source, const std::string& destination) {
    struct stat info {};
    if (stat(source.c_str(), &info) != 0) {
        return ResultOf(errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return kNotAFile;
    }
    // The destination may be missing, a file or a link; never a folder or another kind.
    struct stat target {};
    if (stat(destination.c_str(), &target) == 0 && !S_ISREG(target.st_mode)) {
        return kNotAFile;
    }
    if (lstat(destination.c_str(), &target) == 0 && !S_ISREG(target.st_mode) &&
        !S_ISLNK(target.st_mode)) {
        return kNotAFile;
    }
    if (LockedByAnotherProcess(source) || LockedByAnotherProcess(destination)) {
        return kInUse;
    }
    if (rename(source.c_str(), destination.c_str()) != 0) {
        return errno == EXDEV ? MoveAcross(source, destination) : ResultOf(errno);
    }
    // Not synced: the rename is atomic, so a killed process leaves either file whole, and a
    // rename lost to a system crash leaves the delivery in place for the next pass to move.
    // A sync per file would cost a journal commit each (milliseconds on a disk).
    return kDone;
}

int32_t Delete(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return ResultOf(errno);
    }
    if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) {
        return kNotAFile;
    }
    if (LockedByAnotherProcess(path)) {
        return kInUse;
    }
    return unlink(path.c_str()) == 0 ? kDone : ResultOf(errno);
}

}  // namespace

// Silent whatever the flags say: there is no one to ask, and every confirmation is yes.
int32_t PosixShellFileOperation::Run(const FileOpRequest& request) {
    std::string from;
    if (!SinglePath(request.from, from)) {
        return kBadRequest;
    }
    switch (request.func) {
        case kFoMove: {
            std::string to;
            if (!SinglePath(request.to, to)) {
                return kBadRequest;
            }
            return Move(from, to);
        }
        case kFoDelete:
            return Delete(from);
        default:
            return kBadRequest;
    }
}

}  // namespace p2::posix
