// Whether another process has a file open under a lock: the POSIX stand-in for the Windows
// rule that a file in use cannot be deleted or replaced.
#pragma once

#include <string>

namespace p2::posix {

// True when another open file holds a BSD lock (flock) or a record lock (fcntl, classic or
// open-file-description) on the regular file at `path`. Links, folders and other kinds of
// file are never opened and count as not locked; so does a file that cannot be opened.
// The test opens and closes the file, which drops this process's own classic record locks on
// it: callers hold none.
bool LockedByAnotherProcess(const std::string& path);

// The same test on the regular file open as `fd`. A BSD lock that is free is taken through
// `fd` and kept until `fd` is closed.
bool LockedByAnotherOpenFile(int fd);

}  // namespace p2::posix
