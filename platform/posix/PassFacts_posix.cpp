// What one update pass saw of its files, so that each is looked at once.
#include "platform/posix/PassFacts_posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "platform/posix/FileLock_posix.h"

namespace p2::posix {
namespace {

constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

int ErrorOf(int result) {
    return result == 0 ? 0 : errno;
}

ssize_t ReadAt(int fd, unsigned char* buffer, size_t size) {
    size_t got = 0;
    while (got < size) {
        const ssize_t n = pread(fd, buffer + got, size - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return got == 0 ? -1 : static_cast<ssize_t>(got);
        }
        if (n == 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

// Two descriptors with neighbouring numbers are closed in one call.
void CloseBoth(int a, int b) {
    if (a >= 0 && b >= 0 && (a - b == 1 || b - a == 1) &&
        close_range(static_cast<unsigned>(std::min(a, b)), static_cast<unsigned>(std::max(a, b)),
                    0) == 0) {
        return;
    }
    for (const int fd : {a, b}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

std::string_view NameOf(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

PassFacts::~PassFacts() {
    EndPass();
}

void PassFacts::BeginPass(const std::string& updateFolder) {
    EndPass();
    const size_t slash = updateFolder.rfind('/');
    if (slash == std::string::npos || slash + 1 == updateFolder.size()) {
        return;  // no folder above it that the pass could name
    }
    const std::string installFolder = slash == 0 ? "/" : updateFolder.substr(0, slash);
    // The folders are held, so that each look walks one name rather than the whole path.
    updateFd_ = open(updateFolder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    installFd_ = open(installFolder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (updateFd_ < 0 || installFd_ < 0) {
        EndPass();
        return;
    }
    updateFolder_ = updateFolder;
    installFolder_ = installFolder;
    leaseSignal_.emplace();
    entries_.reserve(2);  // a name has two paths: the entries never move while one is handled
}

void PassFacts::EndPass() {
    ForgetAll();
    for (int* fd : {&updateFd_, &installFd_}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
    updateFolder_.clear();
    installFolder_.clear();
    currentName_.clear();
    writers_.reset();
    leaseSignal_.reset();
}

PassFacts::Entry* PassFacts::Find(const std::string& path) {
    if (updateFd_ < 0) {
        return nullptr;
    }
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 == path.size()) {
        return nullptr;
    }
    const std::string_view folder(path.data(), slash == 0 ? 1 : slash);
    int dirFd = -1;
    if (folder == updateFolder_) {
        dirFd = updateFd_;
    } else if (folder == installFolder_) {
        dirFd = installFd_;
    } else {
        return nullptr;
    }
    const std::string_view name(path.data() + slash + 1, path.size() - slash - 1);
    if (name == "." || name == "..") {
        return nullptr;
    }
    if (name != currentName_) {
        ForgetAll();
        currentName_ = name;
    }
    for (Entry& entry : entries_) {
        if (entry.path == path) {
            return &entry;
        }
    }
    Entry& entry = entries_.emplace_back();
    entry.path = path;
    entry.dirFd = dirFd;
    entry.name = name;
    return &entry;
}

void PassFacts::Drop(Entry& entry) {
    if (entry.fd >= 0) {
        close(entry.fd);
    }
    entry = Entry{};
}

void PassFacts::ForgetAll() {
    for (Entry& entry : entries_) {
        Drop(entry);
    }
    entries_.clear();
}

void PassFacts::Forget(const std::string& path) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->path == path) {
            Drop(*it);
            entries_.erase(it);
            return;
        }
    }
}

int PassFacts::Stat(const std::string& path, struct stat& info) {
    Entry* entry = Find(path);
    if (!entry) {
        return ErrorOf(stat(path.c_str(), &info));
    }
    if (entry->removed) {
        return ENOENT;
    }
    if (!entry->statKnown) {
        entry->statError = ErrorOf(fstatat(entry->dirFd, entry->name.c_str(), &entry->info, 0));
        entry->statKnown = true;
    }
    info = entry->info;
    return entry->statError;
}

int PassFacts::Lstat(const std::string& path, struct stat& info) {
    Entry* entry = Find(path);
    if (!entry) {
        return ErrorOf(lstat(path.c_str(), &info));
    }
    if (entry->removed) {
        return ENOENT;
    }
    const bool regular = entry->statKnown && entry->statError == 0 && S_ISREG(entry->info.st_mode);
    if (regular && entry->link == Link::kUnknown) {
        Descriptor(*entry);  // the lock test needs it next; its open tells a link apart
    }
    if (entry->link == Link::kNo && entry->statKnown && entry->statError == 0) {
        info = entry->info;  // no link: its own type is the one stat gave
        return 0;
    }
    const int error =
        ErrorOf(fstatat(entry->dirFd, entry->name.c_str(), &info, AT_SYMLINK_NOFOLLOW));
    if (error == 0) {
        entry->link = S_ISLNK(info.st_mode) ? Link::kYes : Link::kNo;
    }
    return error;
}

// Opened without following links first: whether the name is a link comes with the open.
int PassFacts::Descriptor(Entry& entry) {
    if (entry.fd >= 0) {
        return entry.fd;
    }
    int fd = -1;
    if (entry.link != Link::kYes) {
        fd = openat(entry.dirFd, entry.name.c_str(), kReadFlags | O_NOFOLLOW);
        if (fd >= 0) {
            entry.link = Link::kNo;
        } else if (errno == ELOOP) {
            entry.link = Link::kYes;
        }
    }
    if (fd < 0 && entry.link == Link::kYes) {
        fd = openat(entry.dirFd, entry.name.c_str(), kReadFlags);
    }
    entry.fd = fd;
    return fd;
}

ssize_t PassFacts::ReadHead(const std::string& path, unsigned char* buffer, size_t size,
                            int& error) {
    Entry* entry = Find(path);
    if (!entry) {
        const int fd = open(path.c_str(), kReadFlags);
        if (fd < 0) {
            error = errno;
            return -1;
        }
        const ssize_t got = ReadAt(fd, buffer, size);
        error = errno;
        close(fd);
        return got;
    }
    if (entry->removed) {
        error = ENOENT;
        return -1;
    }
    if (entry->statKnown && entry->statError == 0 &&
        entry->info.st_size < static_cast<off_t>(size)) {
        return 0;  // too short to hold them: nothing to read
    }
    if (size <= entry->headAsked) {
        const size_t known = std::min(size, entry->head.size());
        std::copy_n(entry->head.data(), known, buffer);
        return static_cast<ssize_t>(known);
    }
    const int fd = Descriptor(*entry);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    const ssize_t got = ReadAt(fd, buffer, size);
    error = errno;
    if (got >= 0) {
        entry->headAsked = size;
        entry->head.assign(reinterpret_cast<const char*>(buffer), static_cast<size_t>(got));
    }
    return got;
}

bool PassFacts::HeldByAnotherProcess(const std::string& path) {
    Entry* entry = Find(path);
    if (!entry) {
        return posix::HeldByAnotherProcess(path);
    }
    struct stat info {};
    if (entry->removed || Stat(path, info) != 0 || !S_ISREG(info.st_mode)) {
        return false;  // neither a regular file nor a link to one: never opened
    }
    // The same file under the other name (a hard link) is asked through the descriptor that
    // already holds its BSD lock and lease, which would otherwise count as another process's.
    for (Entry& other : entries_) {
        if (&other != entry && other.fd >= 0 && other.link == Link::kNo && other.statKnown &&
            other.statError == 0 && other.info.st_dev == info.st_dev &&
            other.info.st_ino == info.st_ino) {
            return Held(other.fd, info);
        }
    }
    const int fd = Descriptor(*entry);
    if (fd < 0 || entry->link != Link::kNo) {
        return false;  // a link is never taken for the file it names
    }
    return Held(fd, info);
}

// A write lease is granted only while no other open file of it exists anywhere, and a lock or
// a writer needs one: one question instead of three in the common case.
bool PassFacts::Held(int fd, const struct stat& info) {
    const Openers openers =
        leaseSignal_ && leaseSignal_->Safe() ? OpenersByLease(fd) : Openers::kUnknown;
    if (openers == Openers::kNone) {
        return false;
    }
    if (openers == Openers::kWriter) {
        return true;
    }
    if (openers == Openers::kUnknown) {
        // Taken once a pass: where the file system grants no lease, none of its files will.
        if (!writers_) {
            writers_ = FilesOpenForWritingElsewhere();
        }
        if (std::binary_search(writers_->begin(), writers_->end(),
                               FileId{info.st_dev, info.st_ino})) {
            return true;
        }
    }
    return LockedByAnotherOpenFile(fd);
}

int PassFacts::Rename(const std::string& from, const std::string& to) {
    Entry* source = NameOf(from) == NameOf(to) ? Find(from) : nullptr;
    Entry* destination = source ? Find(to) : nullptr;
    if (!destination) {
        Forget(from);
        Forget(to);
        return ErrorOf(rename(from.c_str(), to.c_str()));
    }
    // Two names of one file: the rename leaves both in place.
    const bool sameFile = source->statKnown && destination->statKnown && source->statError == 0 &&
                          destination->statError == 0 &&
                          source->info.st_dev == destination->info.st_dev &&
                          source->info.st_ino == destination->info.st_ino;
    const int error = ErrorOf(renameat(source->dirFd, source->name.c_str(), destination->dirFd,
                                       destination->name.c_str()));
    CloseBoth(source->fd, destination->fd);
    source->fd = -1;
    destination->fd = -1;
    Forget(from);
    Forget(to);
    if (error == 0 && !sameFile) {
        Find(from)->removed = true;
    }
    return error;
}

int PassFacts::Unlink(const std::string& path) {
    Entry* entry = Find(path);
    if (!entry) {
        return ErrorOf(unlink(path.c_str()));
    }
    const int error = ErrorOf(unlinkat(entry->dirFd, entry->name.c_str(), 0));
    Forget(path);
    if (error == 0) {
        Find(path)->removed = true;
    }
    return error;
}

}  // namespace p2::posix
