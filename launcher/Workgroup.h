// The workgroup security context shared by all database work and by the launch.
#pragma once

#include <string>

#include "platform/ports/Ports.h"

namespace p2 {

inline constexpr const char* kWorkgroupFileName = "Pelorin2.wgf";

std::string GetWorkgroupUser();
std::string GetWorkgroupPassword();
// Program folder, separator, "Pelorin2.wgf".
std::string WorkgroupPath(Ports& ports);
// Points the process's engine at the workgroup file and account; checks nothing itself.
DBEngine& SetWorkgroupContext(Ports& ports);

}  // namespace p2
