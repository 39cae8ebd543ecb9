// The database engine: exactly the operations the program uses of it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace p2 {

// Numbers the engine raises, as the Access engine numbers them.
enum EngineError : int32_t {
    kErrEngineFileNotFound = 3024,      // could not find the file
    kErrEngineWorkgroupMissing = 3028,  // workgroup file missing or unusable
    kErrEngineAccountRefused = 3029,    // not a valid account name or password
    kErrEngineNoPermission = 3033,      // no permission on the object
    kErrEngineInUse = 3045,             // file already in use
    kErrEngineCannotOpen = 3051,        // file cannot be opened (access denied)
    kErrEngineTableMissing = 3078,      // no such table or query
    kErrEngineNoCurrentRecord = 3021,
    kErrEngineNotEditing = 3020,    // Update without Edit
    kErrEngineLocked = 3260,        // currently locked
    kErrEngineItemNotFound = 3265,  // item not found in this collection
    kErrEngineNotDatabase = 3343,   // unrecognised database format
    kErrEngineQuerySyntax = 3075,
    kErrEngineReadOnly = 3027,
};

enum RecordsetType : int { kDbOpenDynaset = 2, kDbOpenSnapshot = 4 };
enum UpdateType : int { kDbUpdateRegular = 1 };

struct Null {
    bool operator==(const Null&) const = default;
};
using Blob = std::vector<unsigned char>;
// A field's value, carried from one database to another unchanged.
using FieldValue = std::variant<Null, int64_t, double, std::string, Blob>;

class Recordset {
  public:
    virtual ~Recordset() = default;
    // BOF and EOF of the engine (EOF is a C macro, hence the spelling).
    virtual bool Bof() = 0;
    virtual bool Eof() = 0;
    // The current row's value of the named field; throws kErrEngineItemNotFound for a
    // missing field.
    virtual FieldValue Field(const std::string& name) = 0;
    virtual void Edit() = 0;
    virtual void SetField(const std::string& name, const FieldValue& value) = 0;
    virtual void Update(UpdateType type) = 0;
    virtual void Close() = 0;
};

class Database {
  public:
    virtual ~Database() = default;
    // SQL text or a table name.
    virtual std::unique_ptr<Recordset> OpenRecordset(const std::string& source,
                                                     RecordsetType type) = 0;
    virtual void Close() = 0;
};

class DBEngine {
  public:
    virtual ~DBEngine() = default;
    virtual void SetSystemDB(const std::string& path) = 0;
    virtual void SetDefaultUser(const std::string& user) = 0;
    virtual void SetDefaultPassword(const std::string& password) = 0;
    // Shared, read-write, no connect string.
    virtual std::unique_ptr<Database> OpenDatabase(const std::string& path) = 0;
};

class DatabaseService {
  public:
    virtual ~DatabaseService() = default;
    // The process's one engine: created at the first call, kept to the end. Throws
    // AppError (429) when it cannot be created.
    virtual DBEngine& Engine() = 0;
    // Whether the file begins as the engine's databases begin, whether or not it opens; false
    // for a file that cannot be read. Needs no engine and never throws.
    virtual bool HasDatabaseSignature(const std::string& path) = 0;
};

}  // namespace p2
