// The ports a plan needs of this machine beyond the launcher's own.
#pragma once

#include "platform/ports/FileOpCheck.h"

namespace p2::posix {

// Answers as PosixShellFileOperation would, from the files' kinds, the folders' rights and
// the locks and opens for writing held on them.
class PosixFileOpCheck final : public FileOpCheck {
  public:
    int32_t Answer(const FileOpRequest& request) override;
    bool InUse(const std::string& path) override;
    bool OpenForWriting(const std::string& path) override;
};

}  // namespace p2::posix
