// Module mRegEdit: reading one registry value as text.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ports/Registry.h"

namespace p2 {

inline constexpr uint32_t kRegBufferSize = 1024;

// The value's text up to its first NUL, or the empty text when the key cannot be opened or
// the value cannot be read. An empty value name reads the key's default value.
std::string RegGetString(Registry& registry, uint32_t hive, const std::string& subKey,
                         const std::string& valueName);

}  // namespace p2
