// The files that SQLite keeps beside a database while it works on it (name-journal,
// name-wal, name-shm). They belong to their database: played over another file they would
// damage it, and without them a database may lack its latest changes.
#pragma once

#include <set>
#include <string>

#include "platform/posix/SqliteFile_posix.h"

namespace p2::posix {

// Whether `name` in the folder `dirFd` is surely a side file of a database listed in `names`:
// named after it, and empty or headed as SQLite heads such a file.
bool IsSideFileOf(int dirFd, const std::string& name, const std::set<std::string>& names);

// Folds the side files of the database at `path` into it (a hot journal rolled back, a WAL
// checkpointed), so that the file alone holds the whole database; its contents stay the same.
// True when none is left; a path without side files needs nothing. False when another
// program keeps them, or they lie beside no database, so that nothing may move in there.
bool SettleSideFiles(const std::string& path);

// Readies a move of `source` over `destination`: a database moves whole, its own side files
// and those of the copy it replaces folded in first, so that nothing of the old copy is
// played over the new one; no side file moves beside its database on its own. False when
// the move may not go ahead. The caller says whether `source` is a database, from what it
// already read of it.
bool PrepareMove(const std::string& source, bool sourceIsDatabase, const std::string& destination);

// Deletes the side files of the database at `path` before it is discarded itself. False
// when one is held by another program or cannot be deleted. Only databases need asking.
bool DeleteSideFiles(const std::string& path);

// What PrepareMove and DeleteSideFiles would answer, found by looking only: for a reader that
// may change nothing.
bool MoveAllowedBySideFiles(const std::string& source, const std::string& destination);
bool DeleteAllowedBySideFiles(const std::string& path);

// The database at `path` opened to be written in the mode it keeps (WAL included).
SqliteHandle OpenForWriting(const std::string& path);

}  // namespace p2::posix
