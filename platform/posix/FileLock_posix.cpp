// Whether another process holds a file (a lock, or an open for writing): what "in use" means on
// Linux.
#include "platform/posix/FileLock_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

namespace p2::posix {
namespace {

// The lease goes with its descriptor right after the move or delete: nothing to do here.
void OnLeaseBroken(int) {}

bool AllDigits(std::string_view name) {
    return !name.empty() && name.find_first_not_of("0123456789") == std::string_view::npos;
}

// Opened without following links or blocking, so that a FIFO or device swapped in after the
// look can neither hang nor be opened for real; -1 for anything but a regular file.
int OpenRegular(const std::string& path) {
    struct stat before {};
    if (lstat(path.c_str(), &before) != 0 || !S_ISREG(before.st_mode)) {
        return -1;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    struct stat opened {};
    if (fd >= 0 && (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode))) {
        close(fd);
        return -1;
    }
    return fd;
}

// Where no lease answers, /proc does.
bool OpenForWritingElsewhere(int fd, Openers openers) {
    if (openers != Openers::kUnknown) {
        return openers == Openers::kWriter;
    }
    struct stat info {};
    const std::vector<FileId> writers = FilesOpenForWritingElsewhere();
    return fstat(fd, &info) == 0 &&
           std::binary_search(writers.begin(), writers.end(), FileId{info.st_dev, info.st_ino});
}

}  // namespace

LeaseSignal::LeaseSignal() {
    struct sigaction current {};
    if (sigaction(SIGIO, nullptr, &current) != 0) {
        return;
    }
    if (current.sa_handler == SIG_DFL) {
        struct sigaction quiet {};
        quiet.sa_handler = OnLeaseBroken;
        quiet.sa_flags = SA_RESTART;
        sigemptyset(&quiet.sa_mask);
        set_ = sigaction(SIGIO, &quiet, nullptr) == 0;
    }
    safe_ = set_ || current.sa_handler == OnLeaseBroken || current.sa_handler == SIG_IGN;
}

LeaseSignal::~LeaseSignal() {
    if (set_) {
        signal(SIGIO, SIG_DFL);
    }
}

Openers OpenersByLease(int fd) {
    if (fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
        return Openers::kNone;
    }
    if (errno != EAGAIN) {
        return Openers::kUnknown;
    }
    if (fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        return Openers::kReaders;
    }
    return errno == EAGAIN ? Openers::kWriter : Openers::kUnknown;
}

namespace {

// Asks `question` of the regular file at `path`, open read-only, with what a lease tells of
// its other opens; false for anything else.
template <class Question>
bool Ask(const std::string& path, Question question) {
    const int fd = OpenRegular(path);
    if (fd < 0) {
        return false;
    }
    bool answer = false;
    {
        const LeaseSignal signal;
        answer = question(fd, signal.Safe() ? OpenersByLease(fd) : Openers::kUnknown);
        close(fd);  // before the signal is let go: with it goes the lease
    }
    return answer;
}

}  // namespace

bool HeldByAnotherProcess(const std::string& path) {
    return Ask(path, [](int fd, Openers openers) {
        return openers != Openers::kNone &&
               (OpenForWritingElsewhere(fd, openers) || LockedByAnotherOpenFile(fd));
    });
}

bool OpenForWritingByAnotherProcess(const std::string& path) {
    return Ask(path, OpenForWritingElsewhere);
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

std::vector<FileId> FilesOpenForWritingElsewhere() {
    std::vector<FileId> files;
    DIR* proc = opendir("/proc");
    if (!proc) {
        return files;
    }
    const std::string self = std::to_string(getpid());
    while (const dirent* process = readdir(proc)) {
        if (!AllDigits(process->d_name) || self == process->d_name) {
            continue;
        }
        const std::string folder = std::string(process->d_name) + "/fd";
        const int folderFd =
            openat(dirfd(proc), folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* fds = folderFd >= 0 ? fdopendir(folderFd) : nullptr;
        if (!fds) {
            if (folderFd >= 0) {
                close(folderFd);
            }
            continue;  // gone meanwhile, or another user's
        }
        while (const dirent* entry = readdir(fds)) {
            // The link's own mode says how its file was opened: writable for writing.
            struct stat link {};
            struct stat file {};
            if (AllDigits(entry->d_name) &&
                fstatat(dirfd(fds), entry->d_name, &link, AT_SYMLINK_NOFOLLOW) == 0 &&
                (link.st_mode & S_IWUSR) && fstatat(dirfd(fds), entry->d_name, &file, 0) == 0 &&
                S_ISREG(file.st_mode)) {
                files.push_back(FileId{file.st_dev, file.st_ino});
            }
        }
        closedir(fds);
    }
    closedir(proc);
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    return files;
}

}  // namespace p2::posix
