// CheckAcFile: the database probe of the update pass.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ports/Ports.h"

namespace p2 {

// 1: the file opens as a database under the workgroup; 0: it exists but does not open;
// -1: no such file, or an error before the open (reported).
int32_t CheckAcFile(Ports& ports, const std::string& path);

}  // namespace p2
