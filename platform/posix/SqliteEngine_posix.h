// The database engine on Linux: SQLite files under the engine's own workgroup file.
#pragma once

#include <memory>

#include "platform/ports/Database.h"

namespace p2::posix {

// Number raised by any use of a database or recordset after its Close.
inline constexpr int32_t kErrEngineObjectClosed = 3420;

class PassFacts;

class SqliteDatabaseService final : public DatabaseService {
  public:
    // Reads the header of each file through what the update pass knows of it, when given
    // that; a read-only service opens every database for reading only and never writes one.
    explicit SqliteDatabaseService(std::shared_ptr<PassFacts> facts = nullptr,
                                   bool readOnly = false);
    ~SqliteDatabaseService() override;
    DBEngine& Engine() override;
    bool HasDatabaseSignature(const std::string& path) override;

  private:
    std::shared_ptr<PassFacts> facts_;
    bool readOnly_;
    std::unique_ptr<DBEngine> engine_;
};

}  // namespace p2::posix
