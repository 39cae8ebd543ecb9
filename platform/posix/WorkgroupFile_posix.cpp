// The engine's workgroup file: accounts with salted password hashes, and the databases secured for
// some of them.
#include "platform/posix/WorkgroupFile_posix.h"

#include <crypt.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/Error.h"
#include "platform/ports/Database.h"
#include "platform/posix/Errors_posix.h"
#include "platform/posix/SqliteFile_posix.h"

namespace p2::posix {
namespace {

// 'P2WG': no other SQLite file carries this application id.
constexpr int32_t kApplicationId = 0x50325747;
constexpr int32_t kFormatVersion = 1;

int64_t PragmaNumber(sqlite3* db, const char* pragma) {
    Statement statement = Prepare(db, std::string("PRAGMA ") + pragma);
    if (sqlite3_step(statement.get()) != SQLITE_ROW) {
        throw AppError(kErrEngineWorkgroupMissing);
    }
    return sqlite3_column_int64(statement.get(), 0);
}

// Any failure to read the file as a workgroup file is the one answer 3028.
OpenedFile OpenWorkgroup(const std::string& path, bool forWriting) {
    try {
        OpenedFile opened = OpenExistingFile(path, forWriting);
        if (PragmaNumber(opened.db.get(), "application_id") != kApplicationId ||
            PragmaNumber(opened.db.get(), "user_version") != kFormatVersion) {
            throw AppError(kErrEngineWorkgroupMissing);
        }
        Prepare(opened.db.get(), "SELECT name, hash FROM P2_Accounts");
        if (forWriting && !opened.writable) {
            throw AppError(kErrPermissionDenied);
        }
        return opened;
    } catch (const AppError& e) {
        if (forWriting && (e.number() == kErrPermissionDenied || e.number() == kErrEngineInUse)) {
            throw;
        }
        throw AppError(kErrEngineWorkgroupMissing);
    }
}

std::string HashPassword(const std::string& password) {
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!crypt_gensalt_rn("$y$", 0, nullptr, 0, setting, sizeof setting)) {
        throw AppError(kErrInternal);
    }
    auto data = std::make_unique<crypt_data>();
    const char* hash = crypt_rn(password.c_str(), setting, data.get(), sizeof *data);
    if (!hash || hash[0] == '*') {
        throw AppError(kErrInternal);
    }
    std::string result = hash;
    explicit_bzero(data.get(), sizeof *data);
    return result;
}

bool PasswordMatches(const std::string& password, const std::string& stored) {
    auto data = std::make_unique<crypt_data>();
    const char* hash = crypt_rn(password.c_str(), stored.c_str(), data.get(), sizeof *data);
    bool same = false;
    if (hash && hash[0] != '*' && std::strlen(hash) == stored.size()) {
        // Compared in full whatever the first difference, so timing tells nothing.
        unsigned char difference = 0;
        for (std::size_t i = 0; i < stored.size(); ++i) {
            difference |= static_cast<unsigned char>(hash[i] ^ stored[i]);
        }
        same = difference == 0;
    }
    explicit_bzero(data.get(), sizeof *data);
    return same;
}

void BindText(sqlite3_stmt* statement, int index, const std::string& text) {
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}

void StepDone(sqlite3_stmt* statement) {
    const int code = sqlite3_step(statement);
    if (code != SQLITE_DONE) {
        throw AppError(ErrorNumberOfSqlite(code, true));
    }
}

// Runs `body` in one write transaction: the file is changed whole or not at all.
template <class Body>
void InTransaction(sqlite3* db, Body&& body) {
    Execute(db, "BEGIN IMMEDIATE");
    try {
        body();
        Execute(db, "COMMIT");
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

bool ValidName(const std::string& name) {
    if (name.empty()) {
        return false;
    }
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return false;
        }
    }
    return true;
}

}  // namespace

void CreateWorkgroupFile(const std::string& path) {
    if (access(path.c_str(), F_OK) == 0) {
        throw AppError(kErrFileAlreadyExists);
    }
    // Built under a temporary name beside the target, then linked into place so that a
    // failure never leaves a half-made workgroup file and an existing file is never replaced.
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        // What is missing here is the folder, not the file.
        const int32_t number = ErrorNumberOfErrno(errno, kErrPermissionDenied);
        throw AppError(number == kErrFileNotFound ? kErrPathNotFound : number);
    }
    fchmod(fd, 0644);  // every user who runs the program reads it
    close(fd);
    try {
        sqlite3* raw = nullptr;
        const int rc = sqlite3_open_v2(temporary.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
        SqliteHandle db(raw);
        if (rc != SQLITE_OK) {
            throw AppError(kErrPathFileAccess);
        }
        InTransaction(db.get(), [&] {
            Execute(db.get(), "PRAGMA application_id = " + std::to_string(kApplicationId));
            Execute(db.get(), "PRAGMA user_version = " + std::to_string(kFormatVersion));
            Execute(db.get(),
                    "CREATE TABLE P2_Accounts (name TEXT NOT NULL UNIQUE COLLATE NOCASE, "
                    "hash TEXT NOT NULL)");
        });
        db.reset();
        if (link(temporary.c_str(), path.c_str()) != 0) {
            throw AppError(ErrorNumberOfErrno(errno));
        }
    } catch (...) {
        unlink(temporary.c_str());
        throw;
    }
    unlink(temporary.c_str());
}

void AddWorkgroupAccount(const std::string& path, const std::string& name,
                         const std::string& password) {
    if (!ValidName(name)) {
        throw AppError(kErrInvalidArgument);
    }
    OpenedFile file = OpenWorkgroup(path, true);
    const std::string hash = HashPassword(password);
    InTransaction(file.db.get(), [&] {
        Statement insert =
            Prepare(file.db.get(), "INSERT OR IGNORE INTO P2_Accounts (name, hash) VALUES (?, ?)");
        BindText(insert.get(), 1, name);
        BindText(insert.get(), 2, hash);
        StepDone(insert.get());
        if (sqlite3_changes(file.db.get()) != 1) {
            throw AppError(kErrFileAlreadyExists);
        }
    });
}

void RemoveWorkgroupAccount(const std::string& path, const std::string& name) {
    OpenedFile file = OpenWorkgroup(path, true);
    InTransaction(file.db.get(), [&] {
        Statement remove = Prepare(file.db.get(), "DELETE FROM P2_Accounts WHERE name = ?");
        BindText(remove.get(), 1, name);
        StepDone(remove.get());
        if (sqlite3_changes(file.db.get()) != 1) {
            throw AppError(kErrEngineAccountRefused);
        }
    });
}

int32_t VerifyWorkgroupAccount(const std::string& path, const std::string& name,
                               const std::string& password) {
    try {
        OpenedFile file = OpenWorkgroup(path, false);
        Statement find = Prepare(file.db.get(), "SELECT hash FROM P2_Accounts WHERE name = ?");
        BindText(find.get(), 1, name);
        const int code = sqlite3_step(find.get());
        if (code == SQLITE_DONE) {
            return kErrEngineAccountRefused;
        }
        if (code != SQLITE_ROW) {
            return kErrEngineWorkgroupMissing;
        }
        const auto* stored = sqlite3_column_text(find.get(), 0);
        if (!stored) {
            return kErrEngineAccountRefused;
        }
        return PasswordMatches(password, reinterpret_cast<const char*>(stored))
                   ? 0
                   : kErrEngineAccountRefused;
    } catch (const AppError& e) {
        return e.number();
    }
}

void SecureDatabase(const std::string& path, const std::vector<std::string>& accounts) {
    for (const std::string& account : accounts) {
        if (!ValidName(account)) {
            throw AppError(kErrInvalidArgument);
        }
    }
    OpenedFile file = OpenExistingFile(path, true);
    if (!file.writable) {
        throw AppError(kErrEngineReadOnly);
    }
    InTransaction(file.db.get(), [&] {
        Execute(file.db.get(), std::string("CREATE TABLE IF NOT EXISTS ") + kSecurityTable +
                                   " (account TEXT NOT NULL UNIQUE COLLATE NOCASE)");
        Statement insert = Prepare(file.db.get(), std::string("INSERT OR IGNORE INTO ") +
                                                      kSecurityTable + " (account) VALUES (?)");
        for (const std::string& account : accounts) {
            sqlite3_reset(insert.get());
            BindText(insert.get(), 1, account);
            StepDone(insert.get());
        }
    });
}

}  // namespace p2::posix
