// The DAO engine over SQLite: workgroup log-on, databases, recordsets, Access error numbers.
#include "platform/posix/SqliteEngine_posix.h"

#include <unistd.h>

#include <map>
#include <mutex>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/Error.h"
#include "platform/posix/PrivateCopy_posix.h"
#include "platform/posix/SideFiles_posix.h"
#include "platform/posix/SqliteFile_posix.h"
#include "platform/posix/WorkgroupFile_posix.h"

namespace p2::posix {
namespace {

// One open file, shared by the database and its recordsets: closing the database ends
// them all, whichever object goes first.
struct Connection {
    std::unique_ptr<PrivateCopy> copy;  // outlives the handle on it
    SqliteHandle db;
    bool writable = false;
    std::string path;
    bool walPicture = false;  // a WAL database read as an immutable picture
};

sqlite3* Live(const std::shared_ptr<Connection>& connection) {
    if (!connection || !connection->db) {
        throw AppError(kErrEngineObjectClosed);
    }
    return connection->db.get();
}

// The first write to a WAL database opens it anew in its own mode and reads through that
// handle from then on; closing it, the last connection, folds the WAL back in and removes it.
sqlite3* Writer(const std::shared_ptr<Connection>& connection) {
    Live(connection);
    if (connection->walPicture) {
        SqliteHandle handle = OpenForWriting(connection->path);
        if (!handle) {
            throw AppError(kErrEngineReadOnly);
        }
        connection->db = std::move(handle);
        connection->walPicture = false;
    }
    return connection->db.get();
}

FieldValue ColumnValue(sqlite3_stmt* statement, int column) {
    switch (sqlite3_column_type(statement, column)) {
        case SQLITE_INTEGER:
            return static_cast<int64_t>(sqlite3_column_int64(statement, column));
        case SQLITE_FLOAT:
            return sqlite3_column_double(statement, column);
        case SQLITE_TEXT: {
            const auto* text = sqlite3_column_text(statement, column);
            const int size = sqlite3_column_bytes(statement, column);
            return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(size));
        }
        case SQLITE_BLOB: {
            const auto* bytes =
                static_cast<const unsigned char*>(sqlite3_column_blob(statement, column));
            const int size = sqlite3_column_bytes(statement, column);
            return bytes ? Blob(bytes, bytes + size) : Blob();
        }
        default:
            return Null{};
    }
}

void Bind(sqlite3_stmt* statement, int index, const FieldValue& value) {
    int code = SQLITE_OK;
    if (const auto* integer = std::get_if<int64_t>(&value)) {
        code = sqlite3_bind_int64(statement, index, *integer);
    } else if (const auto* real = std::get_if<double>(&value)) {
        code = sqlite3_bind_double(statement, index, *real);
    } else if (const auto* text = std::get_if<std::string>(&value)) {
        code = sqlite3_bind_text64(statement, index, text->data(), text->size(), SQLITE_TRANSIENT,
                                   SQLITE_UTF8);
    } else if (const auto* blob = std::get_if<Blob>(&value)) {
        // An empty blob stays a blob: a null pointer would bind Null instead.
        code = blob->empty() ? sqlite3_bind_zeroblob(statement, index, 0)
                             : sqlite3_bind_blob64(statement, index, blob->data(), blob->size(),
                                                   SQLITE_TRANSIENT);
    } else {
        code = sqlite3_bind_null(statement, index);
    }
    if (code != SQLITE_OK) {
        throw AppError(ErrorNumberOfSqlite(code, true));
    }
}

bool IsSelect(const std::string& source) {
    std::size_t i = source.find_first_not_of(" \t\r\n");
    if (i == std::string::npos || source.size() - i < 6) {
        return false;
    }
    if (FoldCase(source.substr(i, 6)) != "select") {
        return false;
    }
    if (source.size() - i == 6) {
        return true;
    }
    const char next = source[i + 6];
    return !((next >= 'a' && next <= 'z') || (next >= 'A' && next <= 'Z') ||
             (next >= '0' && next <= '9') || next == '_' ||
             static_cast<unsigned char>(next) >= 0x80);
}

// A view reads like a table but has no row of its own to write back to.
bool IsTable(sqlite3* db, const std::string& name) {
    Statement find =
        Prepare(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ? COLLATE NOCASE");
    sqlite3_bind_text64(find.get(), 1, name.data(), name.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    return sqlite3_step(find.get()) == SQLITE_ROW;
}

class SqliteRecordset final : public Recordset {
  public:
    SqliteRecordset(std::shared_ptr<Connection> connection, const std::string& source,
                    RecordsetType type)
        : connection_(std::move(connection)), type_(type) {
        sqlite3* db = Live(connection_);
        if (IsSelect(source)) {
            Statement statement = Prepare(db, source);
            // Only its first statement is compiled, and that one may only read.
            if (!sqlite3_stmt_readonly(statement.get())) {
                throw AppError(kErrEngineQuerySyntax);
            }
            Read(std::move(statement), false);
            return;
        }
        table_ = source;
        const std::string from = " FROM " + QuoteIdentifier(table_);
        if (type_ == kDbOpenDynaset && IsTable(db, table_)) {
            // Tables without rowid cannot name their rows: read-only then.
            std::optional<Statement> withRowid;
            try {
                withRowid.emplace(Prepare(db, "SELECT _rowid_, *" + from));
            } catch (const AppError& e) {
                if (e.number() != kErrEngineQuerySyntax) {
                    throw;
                }
            }
            if (withRowid) {
                Read(std::move(*withRowid), true);
                return;
            }
        }
        Read(Prepare(db, "SELECT *" + from), false);
    }

    bool Bof() override {
        Check();
        return rows_.empty();
    }
    bool Eof() override {
        Check();
        return rows_.empty();
    }

    FieldValue Field(const std::string& name) override {
        Check();
        const std::size_t index = IndexOf(name);
        if (rows_.empty()) {
            throw AppError(kErrEngineNoCurrentRecord);
        }
        if (editing_ && buffer_[index]) {
            return *buffer_[index];
        }
        return rows_.front()[index];
    }

    void Edit() override {
        Check();
        if (type_ != kDbOpenDynaset || !hasRowid_ || !connection_->writable) {
            throw AppError(kErrEngineReadOnly);
        }
        if (rows_.empty()) {
            throw AppError(kErrEngineNoCurrentRecord);
        }
        buffer_.assign(names_.size(), std::nullopt);
        editing_ = true;
    }

    void SetField(const std::string& name, const FieldValue& value) override {
        Check();
        const std::size_t index = IndexOf(name);
        if (!editing_) {
            throw AppError(kErrEngineNotEditing);
        }
        buffer_[index] = value;
    }

    void Update(UpdateType type) override {
        Check();
        if (type != kDbUpdateRegular) {
            throw AppError(kErrInvalidArgument);
        }
        if (!editing_) {
            throw AppError(kErrEngineNotEditing);
        }
        sqlite3* db = Writer(connection_);
        std::string sql;
        for (std::size_t i = 0; i < names_.size(); ++i) {
            if (buffer_[i]) {
                sql += (sql.empty() ? "" : ", ") + QuoteIdentifier(names_[i]) + " = ?";
            }
        }
        if (!sql.empty()) {
            // One statement in autocommit: one transaction, its journal gone at commit.
            Statement update = Prepare(
                db, "UPDATE " + QuoteIdentifier(table_) + " SET " + sql + " WHERE _rowid_ = ?");
            int index = 1;
            for (const auto& value : buffer_) {
                if (value) {
                    Bind(update.get(), index++, *value);
                }
            }
            Bind(update.get(), index, rowids_.front());
            const int code = sqlite3_step(update.get());
            if (code != SQLITE_DONE) {
                throw AppError(ErrorNumberOfSqlite(code, true));
            }
            if (sqlite3_changes(db) != 1) {
                throw AppError(kErrEngineNoCurrentRecord);  // deleted meanwhile
            }
            Reread(db);
        }
        editing_ = false;
        buffer_.clear();
    }

    void Close() override {
        Check();
        closed_ = true;
        rows_.clear();
        buffer_.clear();
        connection_.reset();
    }

  private:
    void Check() {
        if (closed_) {
            throw AppError(kErrEngineObjectClosed);
        }
        Live(connection_);
    }

    std::size_t IndexOf(const std::string& name) const {
        const std::string folded = FoldCase(name);
        for (std::size_t i = 0; i < names_.size(); ++i) {
            if (FoldCase(names_[i]) == folded) {
                return i;
            }
        }
        throw AppError(kErrEngineItemNotFound);
    }

    void Read(Statement statement, bool withRowid) {
        sqlite3_stmt* s = statement.get();
        hasRowid_ = withRowid;
        const int first = withRowid ? 1 : 0;
        const int columns = sqlite3_column_count(s);
        for (int c = first; c < columns; ++c) {
            const char* name = sqlite3_column_name(s, c);
            names_.emplace_back(name ? name : "");
        }
        for (;;) {
            const int code = sqlite3_step(s);
            if (code == SQLITE_DONE) {
                break;
            }
            if (code != SQLITE_ROW) {
                throw AppError(ErrorNumberOfSqlite(code, false));
            }
            if (withRowid) {
                rowids_.push_back(sqlite3_column_int64(s, 0));
            }
            std::vector<FieldValue> row;
            row.reserve(names_.size());
            for (int c = first; c < columns; ++c) {
                row.push_back(ColumnValue(s, c));
            }
            rows_.push_back(std::move(row));
        }
    }

    // The row as stored, after the column types had their say over the written values.
    void Reread(sqlite3* db) {
        std::string columns;
        for (const std::string& name : names_) {
            columns += (columns.empty() ? "" : ", ") + QuoteIdentifier(name);
        }
        Statement select = Prepare(
            db, "SELECT " + columns + " FROM " + QuoteIdentifier(table_) + " WHERE _rowid_ = ?");
        Bind(select.get(), 1, rowids_.front());
        if (sqlite3_step(select.get()) == SQLITE_ROW) {
            for (std::size_t c = 0; c < names_.size(); ++c) {
                rows_.front()[c] = ColumnValue(select.get(), static_cast<int>(c));
            }
        }
    }

    std::shared_ptr<Connection> connection_;
    RecordsetType type_;
    std::string table_;
    bool hasRowid_ = false;
    std::vector<std::string> names_;
    std::vector<std::vector<FieldValue>> rows_;
    std::vector<int64_t> rowids_;
    bool closed_ = false;
    bool editing_ = false;
    std::vector<std::optional<FieldValue>> buffer_;
};

class SqliteDatabase final : public Database {
  public:
    explicit SqliteDatabase(std::shared_ptr<Connection> connection)
        : connection_(std::move(connection)) {}
    ~SqliteDatabase() override { connection_->db.reset(); }

    std::unique_ptr<Recordset> OpenRecordset(const std::string& source,
                                             RecordsetType type) override {
        Live(connection_);
        if (type != kDbOpenSnapshot && type != kDbOpenDynaset) {
            throw AppError(kErrInvalidArgument);
        }
        return std::make_unique<SqliteRecordset>(connection_, source, type);
    }

    void Close() override {
        Live(connection_);
        connection_->db.reset();
    }

  private:
    std::shared_ptr<Connection> connection_;
};

// A database that lists accounts opens only for them; one without the list opens for all.
void CheckPermission(sqlite3* db, const std::string& user) {
    try {
        Statement list = Prepare(db, std::string("SELECT account FROM ") + kSecurityTable);
        const std::string folded = FoldCase(user);
        int code;
        while ((code = sqlite3_step(list.get())) == SQLITE_ROW) {
            const auto* account = sqlite3_column_text(list.get(), 0);
            if (account && FoldCase(reinterpret_cast<const char*>(account)) == folded) {
                return;
            }
        }
        if (code != SQLITE_DONE) {
            throw AppError(ErrorNumberOfSqlite(code, false));
        }
    } catch (const AppError& e) {
        if (e.number() == kErrEngineTableMissing) {
            return;
        }
        if (e.number() == kErrEngineInUse) {
            throw;
        }
    }
    throw AppError(kErrEngineNoPermission);
}

// The verdict on each workgroup set-up, kept for the life of the process: an update pass
// opens hundreds of databases, and each password check is slow on purpose. A workgroup
// file changed after its first use is therefore not seen again until the next run.
int32_t CachedVerdict(const std::string& systemDb, const std::string& user,
                      const std::string& password) {
    static std::mutex mutex;
    static std::map<std::tuple<std::string, std::string, std::string>, int32_t> verdicts;
    std::lock_guard lock(mutex);
    auto key = std::make_tuple(systemDb, user, password);
    const auto found = verdicts.find(key);
    if (found != verdicts.end()) {
        return found->second;
    }
    const int32_t verdict = VerifyWorkgroupAccount(systemDb, user, password);
    verdicts.emplace(std::move(key), verdict);
    return verdict;
}

class SqliteEngine final : public DBEngine {
  public:
    SqliteEngine(std::shared_ptr<PassFacts> facts, bool readOnly)
        : facts_(std::move(facts)), readOnly_(readOnly) {}
    void SetSystemDB(const std::string& path) override { systemDb_ = path; }
    void SetDefaultUser(const std::string& user) override { user_ = user; }
    void SetDefaultPassword(const std::string& password) override { password_ = password; }

    std::unique_ptr<Database> OpenDatabase(const std::string& path) override {
        // The file first: a file that is no database needs no log-on, so a delivery of plain
        // files never pays for the deliberately slow password check.
        std::unique_ptr<PrivateCopy> copy = readOnly_ ? PrivateCopy::IfSideFiles(path) : nullptr;
        const std::string& opened = copy ? copy->Path() : path;
        OpenedFile file =
            OpenExistingFile(opened, !readOnly_ || copy, copy ? nullptr : facts_.get());
        const int32_t verdict = CachedVerdict(systemDb_, user_, password_);
        if (verdict != 0) {
            throw AppError(verdict);
        }
        CheckPermission(file.db.get(), user_);
        auto connection = std::make_shared<Connection>();
        connection->copy = std::move(copy);
        connection->db = std::move(file.db);
        connection->writable =
            file.writable || (!readOnly_ && file.wal && access(opened.c_str(), W_OK) == 0);
        connection->path = opened;
        connection->walPicture = file.wal;
        return std::make_unique<SqliteDatabase>(std::move(connection));
    }

  private:
    std::shared_ptr<PassFacts> facts_;
    bool readOnly_;
    std::string systemDb_;
    std::string user_;
    std::string password_;
};

}  // namespace

SqliteDatabaseService::SqliteDatabaseService(std::shared_ptr<PassFacts> facts, bool readOnly)
    : facts_(std::move(facts)), readOnly_(readOnly) {}
SqliteDatabaseService::~SqliteDatabaseService() = default;

DBEngine& SqliteDatabaseService::Engine() {
    if (!engine_) {
        if (sqlite3_initialize() != SQLITE_OK) {
            throw AppError(kErrCannotCreateObject);
        }
        engine_ = std::make_unique<SqliteEngine>(facts_, readOnly_);
    }
    return *engine_;
}

bool SqliteDatabaseService::HasDatabaseSignature(const std::string& path) {
    return HasSqliteSignature(path, facts_.get());
}

}  // namespace p2::posix
