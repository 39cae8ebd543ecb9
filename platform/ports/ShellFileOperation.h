// The shell's file-operation service: one request record, one call.
#pragma once

#include <cstdint>
#include <string>

namespace p2 {

enum FileOpFunc : uint32_t { kFoMove = 1, kFoDelete = 3 };
enum FileOpFlags : uint16_t { kFofSilent = 0x0004, kFofNoConfirmation = 0x0010 };

struct FileOpRequest {
    uint32_t func = 0;
    // Lists of paths, each ending in a NUL, the list in a second NUL.
    std::string from;
    std::string to;  // empty for a delete
    uint16_t flags = 0;
};

class ShellFileOperation {
  public:
    virtual ~ShellFileOperation() = default;
    // 0 when the whole operation was done; any other value when it failed. A move replaces
    // an existing destination file. Throws AppError only when the call itself cannot be made.
    virtual int32_t Run(const FileOpRequest& request) = 0;
};

}  // namespace p2
