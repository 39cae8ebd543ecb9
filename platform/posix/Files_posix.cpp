// The file port on Linux: lookup, the listing of an update folder (side files left to their
// database), times, deletion.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Error.h"
#include "platform/posix/Errors_posix.h"
#include "platform/posix/FileLock_posix.h"
#include "platform/posix/PassFacts_posix.h"
#include "platform/posix/Ports_posix.h"
#include "platform/posix/SideFiles_posix.h"

namespace p2::posix {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

PosixFiles::PosixFiles() : PosixFiles(std::make_shared<PassFacts>()) {}

PosixFiles::PosixFiles(std::shared_ptr<PassFacts> facts) : facts_(std::move(facts)) {}

// POSIX has no hidden or system attribute: every regular file counts as ordinary, whatever
// the mask asks for.
std::string PosixFiles::Lookup(const std::string& path, int /*attributes*/) {
    if (path.empty() || path.back() == '/') {
        return {};
    }
    struct stat info {};
    if (facts_->Stat(path, info) != 0 || !S_ISREG(info.st_mode)) {
        return {};
    }
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> PosixFiles::ListFiles(const std::string& folder) {
    facts_->BeginPass(folder);
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
    if (!dir) {
        const int32_t number = ErrorNumberOfErrno(errno);
        if (number == kErrFileNotFound) {
            return {};
        }
        throw AppError(number);
    }
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir.get());
        if (!entry) {
            if (errno != 0) {
                throw AppError(ErrorNumberOfErrno(errno));
            }
            break;
        }
        const std::string name = entry->d_name;
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat info {};
            regular =
                fstatat(dirfd(dir.get()), entry->d_name, &info, 0) == 0 && S_ISREG(info.st_mode);
        }
        if (regular) {
            names.push_back(name);
        }
    }
    // A journal or WAL left by a writer that was killed, or copied with a live database,
    // belongs to its database: it goes with it. Moved or deleted on its own, it would be
    // played back over whatever file comes to stand beside it, or its database would lack it.
    const std::set<std::string> all(names.begin(), names.end());
    std::erase_if(
        names, [&](const std::string& name) { return IsSideFileOf(dirfd(dir.get()), name, all); });
    return names;
}

int64_t PosixFiles::ModificationTime(const std::string& path) {
    struct stat info {};
    const int error = facts_->Stat(path, info);
    if (error != 0) {
        throw AppError(ErrorNumberOfErrno(error));
    }
    return static_cast<int64_t>(info.st_mtime);
}

void PosixFiles::DeleteFile(const std::string& path) {
    facts_->Forget(path);  // a descriptor the pass kept could hold a lock of ours
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        throw AppError(ErrorNumberOfErrno(errno));
    }
    if (S_ISDIR(info.st_mode)) {
        throw AppError(kErrPathFileAccess);
    }
    // Windows refuses to delete a file that another program has open; a lock or an open for
    // writing is the nearest sign of that here.
    if (S_ISREG(info.st_mode) && HeldByAnotherProcess(path)) {
        throw AppError(kErrPermissionDenied);
    }
    if (unlink(path.c_str()) != 0) {
        throw AppError(ErrorNumberOfErrno(errno));
    }
}

}  // namespace p2::posix
