// CheckLdbFile: the target's lock file before the launch.
#pragma once

#include <string>

#include "platform/ports/Ports.h"

namespace p2 {

// True only when the lock file beside the database exists and cannot be deleted (the
// database is in use). A deletable lock file is deleted.
bool CheckLdbFile(Ports& ports, const std::string& databasePath);

// The lock file's name: the last extension replaced by ".ldb", or ".ldb" appended.
std::string LockFileName(const std::string& databasePath, char separator);

}  // namespace p2
