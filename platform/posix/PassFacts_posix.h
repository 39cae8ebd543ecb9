// What the ports learn about the files of one update pass, shared by the file, file-operation
// and database ports so that each file is looked at once.
//
// A pass begins with the listing of its update folder. From then on the two paths of the name
// being handled (in the update folder and in the folder above it) are looked at once and
// answered from that look, until this process's own move or delete changes them, the database
// engine opens them, or the pass turns to another name; every other path is looked at anew on
// each question. Whether another process holds the file is never kept: it is asked each time,
// through the descriptor kept for the file.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/posix/FileLock_posix.h"

namespace p2::posix {

class PassFacts {
  public:
    PassFacts() = default;
    ~PassFacts();
    PassFacts(const PassFacts&) = delete;
    PassFacts& operator=(const PassFacts&) = delete;

    // The listing of `updateFolder` begins a pass; what earlier passes saw is forgotten.
    void BeginPass(const std::string& updateFolder);

    // stat(2) and lstat(2): 0 with `info`, or the error number.
    int Stat(const std::string& path, struct stat& info);
    int Lstat(const std::string& path, struct stat& info);

    // The first `size` bytes of the file at `path` (links followed) into `buffer`: `size`, or
    // fewer (0 for a file shorter than `size`), or -1 with `error`. Only regular files are
    // opened; callers make sure of that first.
    ssize_t ReadHead(const std::string& path, unsigned char* buffer, size_t size, int& error);

    // As the function of FileLock_posix.h, through the descriptor kept for the file. When it
    // answers false, the file may stay leased until the path is moved, deleted or forgotten:
    // callers that go no further forget it.
    bool HeldByAnotherProcess(const std::string& path);

    // rename(2) and unlink(2): 0 or the error number. What they change is forgotten; a path
    // they removed is known to be missing.
    int Rename(const std::string& from, const std::string& to);
    int Unlink(const std::string& path);

    // Something other than a look may change the file at `path` (the database engine opens it).
    void Forget(const std::string& path);

  private:
    enum class Link { kUnknown, kNo, kYes };
    struct Entry {
        std::string path;
        int dirFd = -1;  // the pass's folder that holds it
        std::string name;
        bool statKnown = false;
        int statError = 0;
        struct stat info {};
        Link link = Link::kUnknown;
        int fd = -1;           // read-only, links followed
        size_t headAsked = 0;  // the bytes asked of the file's start, and those it had
        std::string head;
        bool removed = false;
    };

    Entry* Find(const std::string& path);
    bool Held(int fd, const struct stat& info);
    int Descriptor(Entry& entry);
    void Drop(Entry& entry);
    void ForgetAll();
    void EndPass();

    std::string updateFolder_;
    std::string installFolder_;
    int updateFd_ = -1;
    int installFd_ = -1;
    std::string currentName_;
    std::vector<Entry> entries_;  // the paths of the current name only
    std::optional<LeaseSignal> leaseSignal_;
    // What /proc showed open for writing, once a file of the pass could not be leased.
    std::optional<std::vector<FileId>> writers_;
};

}  // namespace p2::posix
