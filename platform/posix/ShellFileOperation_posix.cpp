// The shell's file operation on Linux: a move is a rename, or a flushed copy across file systems;
// in-use files refuse.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/posix/Errors_posix.h"
#include "platform/posix/FileLock_posix.h"
#include "platform/posix/FileOpResult_posix.h"
#include "platform/posix/PassFacts_posix.h"
#include "platform/posix/Ports_posix.h"
#include "platform/posix/SideFiles_posix.h"
#include "platform/posix/SqliteFile_posix.h"

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

// A temporary is ".<name>.p2tmp-XXXXXX", the name cut short where the whole would not fit
// the folder's file system; its creator holds a lock on it while it writes.
constexpr std::string_view kTemporaryMark = ".p2tmp-XXXXXX";

std::string TemporaryPattern(const std::string& folder, const std::string& name) {
    const long longest = pathconf(folder.c_str(), _PC_NAME_MAX);
    const std::size_t limit = longest > 0 ? static_cast<std::size_t>(longest) : 255;
    const std::size_t room =
        limit > kTemporaryMark.size() + 1 ? limit - kTemporaryMark.size() - 1 : 0;
    std::size_t kept = name.size() < room ? name.size() : room;
    // Never half a UTF-8 character.
    while (kept > 0 && kept < name.size() &&
           (static_cast<unsigned char>(name[kept]) & 0xC0) == 0x80) {
        --kept;
    }
    return folder + "/." + name.substr(0, kept) + std::string(kTemporaryMark);
}

bool IsTemporaryName(std::string_view name) {
    constexpr std::size_t kStem = kTemporaryMark.size() - 6;  // ".p2tmp-"
    return name.size() > kTemporaryMark.size() && name.front() == '.' &&
           name.substr(name.size() - kTemporaryMark.size(), kStem) ==
               kTemporaryMark.substr(0, kStem);
}

// A move killed between copy and rename leaves its temporary; the next move into the folder
// (the next start redoes the killed one) removes every one that nobody is writing.
void ClearStaleTemporaries(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        return;
    }
    while (const dirent* entry = readdir(dir)) {
        if (!IsTemporaryName(entry->d_name)) {
            continue;
        }
        const std::string path = folder + "/" + entry->d_name;
        struct stat info {};
        if (lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            !HeldByAnotherProcess(path)) {
            unlink(path.c_str());
        }
    }
    closedir(dir);
}

// Across file systems a move is a copy: into a temporary beside the destination that takes
// the source's mode, owner and time stamp, then one rename over the destination, so that
// the installed path is never missing or partial. A link as source is moved as the contents
// of the file it names.
int32_t MoveAcross(const std::string& source, const std::string& destination) {
    const std::string folder = FolderOf(destination);
    // Removing the source is the last step; find out first whether it will be allowed.
    if (faccessat(AT_FDCWD, FolderOf(source).c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        return Win32CodeOfErrno(errno);
    }
    const int in = open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (in < 0) {
        return Win32CodeOfErrno(errno);
    }
    struct stat info {};
    if (fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(in);
        return kNotAFile;
    }
    ClearStaleTemporaries(folder);
    std::string temporary = TemporaryPattern(folder, NameOf(destination));
    const int out = mkostemp(temporary.data(), O_CLOEXEC);
    if (out < 0) {
        const int32_t result = Win32CodeOfErrno(errno);
        close(in);
        return result;
    }
    // Marks it as in the making for the clearing above, run by another launcher.
    flock(out, LOCK_EX | LOCK_NB);
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
        const int32_t result = written ? Win32CodeOfErrno(errno) : kIoFailure;
        unlink(temporary.c_str());
        return result;
    }
    SyncFolder(folder);
    return unlink(source.c_str()) == 0 ? kDone : kSourceLeftOver;
}

// Read through what the pass already holds of the file, so that a plain file costs no further
// look.
bool HoldsDatabase(PassFacts& facts, const std::string& path) {
    return HasSqliteSignature(path, &facts);
}

int32_t Move(PassFacts& facts, const std::string& source, const std::string& destination) {
    struct stat info {};
    const int missing = facts.Stat(source, info);
    if (missing != 0) {
        return Win32CodeOfErrno(missing);
    }
    if (!S_ISREG(info.st_mode)) {
        return kNotAFile;
    }
    // The destination may be missing, a file or a link; never a folder or another kind (a
    // name that is neither a file nor a link has the kind that stat finds through it).
    struct stat target {};
    if (facts.Stat(destination, target) == 0 && !S_ISREG(target.st_mode)) {
        return kNotAFile;
    }
    if (facts.HeldByAnotherProcess(source) || facts.HeldByAnotherProcess(destination)) {
        facts.Forget(source);
        facts.Forget(destination);
        return kInUse;
    }
    const bool database = HoldsDatabase(facts, source);
    if (database) {
        // Folding side files in rewrites the files: what was seen of them no longer holds.
        facts.Forget(source);
        facts.Forget(destination);
    }
    if (!PrepareMove(source, database, destination)) {
        facts.Forget(source);
        facts.Forget(destination);
        return kInUse;
    }
    const int error = facts.Rename(source, destination);
    if (error != 0) {
        if (error != EXDEV) {
            return Win32CodeOfErrno(error);
        }
        facts.Forget(source);
        facts.Forget(destination);
        return MoveAcross(source, destination);
    }
    // Not synced: the rename is atomic, so a killed process leaves either file whole, and a
    // rename lost to a system crash leaves the delivery in place for the next pass to move.
    // A sync per file would cost a journal commit each (milliseconds on a disk).
    return kDone;
}

int32_t Delete(PassFacts& facts, const std::string& path) {
    struct stat info {};
    const int missing = facts.Lstat(path, info);
    if (missing != 0) {
        return Win32CodeOfErrno(missing);
    }
    if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) {
        return kNotAFile;
    }
    if (facts.HeldByAnotherProcess(path) ||
        (HoldsDatabase(facts, path) && !DeleteSideFiles(path))) {
        facts.Forget(path);
        return kInUse;
    }
    const int error = facts.Unlink(path);
    return error == 0 ? kDone : Win32CodeOfErrno(error);
}

}  // namespace

PosixShellFileOperation::PosixShellFileOperation()
    : PosixShellFileOperation(std::make_shared<PassFacts>()) {}

PosixShellFileOperation::PosixShellFileOperation(std::shared_ptr<PassFacts> facts)
    : facts_(std::move(facts)) {}

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
            return Move(*facts_, from, to);
        }
        case kFoDelete:
            return Delete(*facts_, from);
        default:
            return kBadRequest;
    }
}

}  // namespace p2::posix
