// Starting another program, not waited for.
#pragma once

#include <cstdint>
#include <string>

namespace p2 {

enum WindowStyle : int { kNormalFocus = 1 };

class Process {
  public:
    virtual ~Process() = default;
    // Starts the program whose path leads `commandLine` (split by the Windows rules) and
    // returns its task identifier. Throws AppError 53 for a missing program, 70 for one
    // that may not be executed.
    virtual int64_t Shell(const std::string& commandLine, WindowStyle style) = 0;
};

}  // namespace p2
