// Opening a database file for the engine: the header first, then SQLite, SQLite's codes as Access
// numbers.
#include "platform/posix/SqliteFile_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string_view>

#include "platform/Error.h"
#include "platform/ports/Database.h"
#include "platform/posix/PassFacts_posix.h"
#include "platform/posix/SideFiles_posix.h"

namespace p2::posix {
namespace {

// Long enough for a reader to finish, short enough never to look like a hang.
constexpr int kBusyTimeoutMs = 200;
constexpr std::size_t kHeaderSize = 100;
constexpr std::string_view kMagic{"SQLite format 3\0", 16};
constexpr unsigned char kWalVersion = 2;

struct Header {
    bool database = false;
    bool wal = false;
};

// Reads the first page header without SQLite: an empty file would otherwise count as a
// fresh database, and a FIFO must never be opened for a blocking read.
Header ReadHeader(const std::string& path, PassFacts& facts) {
    struct stat info {};
    const int missing = facts.Stat(path, info);
    if (missing != 0) {
        throw AppError(missing == ENOENT || missing == ENOTDIR ? kErrEngineFileNotFound
                                                               : kErrEngineCannotOpen);
    }
    if (!S_ISREG(info.st_mode)) {
        throw AppError(kErrEngineCannotOpen);
    }
    std::array<unsigned char, kHeaderSize> bytes{};
    int error = 0;
    const ssize_t got = facts.ReadHead(path, bytes.data(), bytes.size(), error);
    if (got < 0) {
        throw AppError(error == ENOENT ? kErrEngineFileNotFound : kErrEngineCannotOpen);
    }
    Header header;
    header.database = static_cast<std::size_t>(got) == bytes.size() &&
                      std::memcmp(bytes.data(), kMagic.data(), kMagic.size()) == 0;
    header.wal = header.database && (bytes[18] == kWalVersion || bytes[19] == kWalVersion);
    return header;
}

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path.front() == '/') {
        return path;
    }
    std::array<char, PATH_MAX> cwd{};
    if (!getcwd(cwd.data(), cwd.size())) {
        throw AppError(kErrEngineCannotOpen);
    }
    return std::string(cwd.data()) + "/" + path;
}

// A file: URI that carries every byte of the path unchanged.
std::string FileUri(const std::string& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (const char ch : AbsolutePath(path)) {
        const auto c = static_cast<unsigned char>(ch);
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '/' || c == '-' || c == '_' || c == '.' ||
                           c == '~';
        if (plain) {
            uri += ch;
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 0xF];
        }
    }
    return uri;
}

bool IsBusy(int code) {
    const int primary = code & 0xFF;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

}  // namespace

int32_t ErrorNumberOfSqlite(int code, bool writing) {
    switch (code & 0xFF) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return writing ? kErrEngineLocked : kErrEngineInUse;
        case SQLITE_READONLY:
        case SQLITE_CANTOPEN:
        case SQLITE_PERM:
            return writing ? kErrEngineReadOnly : kErrEngineCannotOpen;
        case SQLITE_NOMEM:
            return kErrOutOfMemory;
        case SQLITE_FULL:
            return 61;  // disk full
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
        case SQLITE_FORMAT:
        case SQLITE_SCHEMA:
            return kErrEngineNotDatabase;
        case SQLITE_CONSTRAINT:
        case SQLITE_MISMATCH:
        case SQLITE_TOOBIG:
            return kErrTypeMismatch;
        default:
            return writing ? kErrEngineLocked : kErrEngineNotDatabase;
    }
}

bool HasSqliteSignature(const std::string& path, PassFacts* facts) {
    PassFacts unshared;
    PassFacts& looks = facts ? *facts : unshared;
    struct stat info {};
    if (looks.Stat(path, info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    std::array<unsigned char, kMagic.size()> head{};
    int error = 0;
    return looks.ReadHead(path, head.data(), head.size(), error) ==
               static_cast<ssize_t>(head.size()) &&
           std::memcmp(head.data(), kMagic.data(), kMagic.size()) == 0;
}

OpenedFile OpenExistingFile(const std::string& path, bool wantWrite, PassFacts* facts) {
    PassFacts unshared;  // knows no pass: every question is asked anew
    PassFacts& looks = facts ? *facts : unshared;
    const Header header = ReadHeader(path, looks);
    if (!header.database) {
        throw AppError(kErrEngineNotDatabase);
    }
    // SQLite may change the file (a hot journal is rolled back at the first read).
    looks.Forget(path);
    OpenedFile opened;
    // A WAL file is read as it stands on disk: opening it in WAL mode would leave -wal and
    // -shm beside it, and switching its mode would change it. A -wal left beside it holds
    // part of it, and is folded in first unless another program is writing it.
    if (header.wal && !SettleSideFiles(path)) {
        throw AppError(kErrEngineInUse);
    }
    opened.wal = header.wal;
    opened.writable = wantWrite && !header.wal && access(path.c_str(), W_OK) == 0;
    std::string uri = FileUri(path);
    uri += header.wal ? "?mode=ro&immutable=1" : (opened.writable ? "?mode=rw" : "?mode=ro");
    const int flags = SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX |
                      (opened.writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY);
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(uri.c_str(), &raw, flags, nullptr);
    opened.db.reset(raw);
    if (rc != SQLITE_OK) {
        throw AppError(rc == SQLITE_NOMEM ? int32_t{kErrOutOfMemory}
                                          : int32_t{kErrEngineCannotOpen});
    }
    sqlite3* db = opened.db.get();
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    // The files come from outside: their schema may not run functions with side effects.
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);

    sqlite3_stmt* raw_statement = nullptr;
    int code =
        sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master", -1, &raw_statement, nullptr);
    Statement probe(raw_statement);
    if (code == SQLITE_OK) {
        code = sqlite3_step(probe.get());
    }
    if (code != SQLITE_ROW) {
        throw AppError(IsBusy(code) ? kErrEngineInUse : kErrEngineNotDatabase);
    }
    return opened;
}

Statement Prepare(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    const int code =
        sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr);
    Statement statement(raw);
    if (code != SQLITE_OK) {
        const std::string message = sqlite3_errmsg(db);
        if (message.rfind("no such table", 0) == 0) {
            throw AppError(kErrEngineTableMissing);
        }
        if ((code & 0xFF) == SQLITE_ERROR) {
            throw AppError(kErrEngineQuerySyntax);
        }
        throw AppError(ErrorNumberOfSqlite(code, false));
    }
    if (!statement) {
        throw AppError(kErrEngineQuerySyntax);  // blank text, no statement
    }
    return statement;
}

void Execute(sqlite3* db, const std::string& sql) {
    const int code = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) {
        throw AppError(ErrorNumberOfSqlite(code, true));
    }
}

std::string QuoteIdentifier(const std::string& name) {
    std::string quoted = "\"";
    for (const char c : name) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string FoldCase(const std::string& text) {
    std::string folded = text;
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return folded;
}

}  // namespace p2::posix
