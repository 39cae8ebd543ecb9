// FindAccess10: where the Access 2002 executable is, from the registry.
#pragma once

#include <string>

#include "platform/ports/Ports.h"

namespace p2 {

inline constexpr const char* kAccessCommandKey = "Access.Application.10\\shell\\open\\command";

// The full path of the Access 2002 executable from its registered open command, or the
// empty text when none is registered.
std::string FindAccess10(Ports& ports);

// The executable's path cut out of a registered command text (empty when the marker is
// missing).
std::string AccessPathOf(std::string commandText, char separator);

}  // namespace p2
