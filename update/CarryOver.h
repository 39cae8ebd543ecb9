// The settings database's own route through the update pass.
#pragma once

#include <string>

#include "platform/ports/Ports.h"
#include "update/Decision.h"

namespace p2 {

inline constexpr const char* kSettingsDatabaseName = "maintenance.sys";
inline constexpr const char* kOptionTable = "TZs_オプション設定";
inline constexpr const char* kOptionPasswordField = "pwd";

// Decides by version stamp alone; before a replacement, copies the installed copy's option
// password into the incoming copy. Engine failures pass to the update pass.
Decision CarryOverSettings(Ports& ports, const std::string& installedPath,
                           const std::string& incomingPath);

}  // namespace p2
