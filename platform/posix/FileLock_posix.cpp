// Whether another process holds a lock on a file: what "in use" means on Linux.
#include "platform/posix/FileLock_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace p2::posix {

bool LockedByAnotherProcess(const std::string& path) {
    struct stat before {};
    if (lstat(path.c_str(), &before) != 0 || !S_ISREG(before.st_mode)) {
        return false;
    }
    // Non-blocking and without following links, so that a FIFO or device swapped in after the
    // check above can neither hang nor be opened for real.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat opened {};
    const bool locked =
        fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && LockedByAnotherOpenFile(fd);
    close(fd);
    return locked;
}

bool LockedByAnotherOpenFile(int fd) {
    int result = -1;
    do {
        result = flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0 && errno == EWOULDBLOCK) {
        return true;
    }
    // An OFD query conflicts with every record lock of other open files, classic per-process
    // ones included; asking for a write lock finds read locks as well.
    struct flock query {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    query.l_start = 0;
    query.l_len = 0;
    return fcntl(fd, F_OFD_GETLK, &query) == 0 && query.l_type != F_UNLCK;
}

}  // namespace p2::posix
