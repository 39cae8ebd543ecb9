// The physical floor of an update pass: only the work that no implementation can skip.
#pragma once

#include <string>

namespace p2bench {

// Lists `folder`/UPDATE, then renames each file whose name starts with 'n' (newer) over its
// installed counterpart and unlinks every other one. Nothing is looked up or compared: the
// names carry the decision.
void PlainFloor(const std::string& folder);

// Lists `folder`/UPDATE; for each name opens the installed and the incoming copy with SQLite,
// runs the stamp statement on both, and renames the incoming copy when its stamp is greater
// (unlinks it otherwise).
void DatabaseFloor(const std::string& folder);

}  // namespace p2bench
