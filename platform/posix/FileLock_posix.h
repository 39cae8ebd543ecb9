// Whether another process holds a file: a lock on it, or an open for writing. The POSIX
// stand-in for the Windows rule that a file in use cannot be deleted or replaced.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <compare>
#include <string>
#include <vector>

namespace p2::posix {

// True when another open file holds a BSD lock (flock) or a record lock (fcntl, classic or
// open-file-description) on the regular file at `path`, or has it open for writing. Links,
// folders and other kinds of file are never opened and count as not held; so does a file that
// cannot be opened. The test opens and closes the file, which drops this process's own classic
// record locks on it: callers hold none.
bool HeldByAnotherProcess(const std::string& path);

// Whether another open file has the regular file at `path` open for writing (a copy still
// being made); false for anything that is not a regular file.
bool OpenForWritingByAnotherProcess(const std::string& path);

// The lock test alone on the regular file open as `fd`. A BSD lock that is free is taken
// through `fd` and kept until `fd` is closed.
bool LockedByAnotherOpenFile(int fd);

// What a lease on `fd` (open read-only) tells of the other open files of its file. A lease
// granted stays with `fd` until it is closed; only while a LeaseSignal lives may one be asked.
enum class Openers {
    kNone,     // a write lease was granted: nobody else has it open
    kReaders,  // a read lease was granted: nobody has it open for writing
    kWriter,   // a read lease was refused: someone has it open for writing
    kUnknown,  // no lease can be had (another owner's file without CAP_LEASE, a file system
               // without leases)
};
Openers OpenersByLease(int fd);

// Keeps the signal that a broken lease sends (SIGIO, which would end the process) quiet while
// it lives, unless the program has a disposition of its own for it.
class LeaseSignal {
  public:
    LeaseSignal();
    ~LeaseSignal();
    LeaseSignal(const LeaseSignal&) = delete;
    LeaseSignal& operator=(const LeaseSignal&) = delete;
    // Whether a lease may be taken now.
    bool Safe() const { return safe_; }

  private:
    bool set_ = false;
    bool safe_ = false;
};

struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    auto operator<=>(const FileId&) const = default;
};

// The regular files that other processes have open for writing, sorted, as far as /proc shows
// their open files (every process's to root, the user's own processes' otherwise): where no
// lease can be had, the only way to see a writer. One look at every open file of the machine.
std::vector<FileId> FilesOpenForWritingElsewhere();

}  // namespace p2::posix
