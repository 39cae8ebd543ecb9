// Module mSHFileOperation: moving and deleting files through the shell's file-operation
// service, with the module's own error box.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ports/Ports.h"

namespace p2 {

// No progress display, no confirmation: an existing destination is replaced without asking.
inline constexpr uint16_t kFileOpFlags = kFofSilent | kFofNoConfirmation;

// 0 when done; any other value when the operation failed or an error was reported in the
// module's box.
int32_t SHMove(Ports& ports, const std::string& from, const std::string& to, uint16_t flags);
int32_t SHKill(Ports& ports, const std::string& path, uint16_t flags);

void ShowFileOpError(Ports& ports, int32_t errorNumber, const std::string& procedureName);

}  // namespace p2
