// The ports a plan needs of this machine beyond the launcher's own.
#pragma once

#include "platform/ports/FileOpCheck.h"

namespace p2::win32 {

// Answers as Win32ShellFileOperation would, from the files' kinds and the handles other
// programs hold on them.
class Win32FileOpCheck final : public FileOpCheck {
  public:
    int32_t Answer(const FileOpRequest& request) override;
    bool InUse(const std::string& path) override;
    bool OpenForWriting(const std::string& path) override;
};

}  // namespace p2::win32
