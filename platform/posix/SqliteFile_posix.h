// Opening SQLite files so that a look never changes them: shared by the engine, the
// workgroup file and the administration tool.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>

namespace p2::posix {

class PassFacts;

struct SqliteCloser {
    void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
using SqliteHandle = std::unique_ptr<sqlite3, SqliteCloser>;

struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

struct OpenedFile {
    SqliteHandle db;
    // False when the handle may only read: the file is write-protected, or kept in WAL mode.
    bool writable = false;
    // Kept in WAL mode: read as an immutable picture, so that no -wal or -shm file appears
    // beside it; writing it takes a handle of its own (OpenForWriting).
    bool wal = false;
};

// Opens an existing SQLite file, never creating one, and reads its schema at once so that
// a file that is no database fails here. Throws AppError: 3024 missing, 3051 a folder or
// not readable, 3343 empty or not a database, 3045 locked by another connection. With
// `facts`, the header is read through what the update pass knows of the file, and the file is
// forgotten before SQLite opens it.
OpenedFile OpenExistingFile(const std::string& path, bool wantWrite, PassFacts* facts = nullptr);

// Whether the file begins with SQLite's header string, whether or not the rest is whole; read
// through what the update pass knows of the file when `facts` is given.
bool HasSqliteSignature(const std::string& path, PassFacts* facts);

// Prepares `sql`; throws AppError for the failure (3078 for a missing table).
Statement Prepare(sqlite3* db, const std::string& sql);

// Runs statements that return no rows; throws AppError (3260 when locked).
void Execute(sqlite3* db, const std::string& sql);

// The engine's number for an SQLite result code met while reading or writing.
int32_t ErrorNumberOfSqlite(int code, bool writing);

// "name" with embedded quotes doubled.
std::string QuoteIdentifier(const std::string& name);

// ASCII letters folded to lower case; other bytes kept.
std::string FoldCase(const std::string& text);

}  // namespace p2::posix
