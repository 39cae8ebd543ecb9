// Asking the shell's file-operation service what it would answer, without acting: the
// ground of a plan that must change nothing.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ports/ShellFileOperation.h"

namespace p2 {

class FileOpCheck {
  public:
    virtual ~FileOpCheck() = default;
    // The answer ShellFileOperation::Run would give for `request` now: 0 or its non-zero
    // code. Changes nothing and leaves no file locked.
    virtual int32_t Answer(const FileOpRequest& request) = 0;
    // Whether another process holds the file, so that it can be neither replaced nor deleted.
    virtual bool InUse(const std::string& path) = 0;
    // Whether another program has the file open for writing: a copy still being made.
    virtual bool OpenForWriting(const std::string& path) = 0;
};

}  // namespace p2
