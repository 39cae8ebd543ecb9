// DeleteStartupShortcut: removes the installer's start-up shortcut from both start-up folders.
#pragma once

#include "platform/ports/Ports.h"

namespace p2 {

inline constexpr const char* kStartupShortcutName = "P2Installation.lnk";

// Removes the installer's start-up shortcut from the all-users and the user's start-up
// folders. Failures are reported here and never stop the start.
void DeleteStartupShortcut(Ports& ports);

}  // namespace p2
