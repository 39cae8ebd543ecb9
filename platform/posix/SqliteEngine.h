// The database engine on Linux: SQLite files under the engine's own workgroup file.
#pragma once

#include <memory>

#include "platform/ports/Database.h"

namespace p2::posix {

// Number raised by any use of a database or recordset after its Close.
inline constexpr int32_t kErrEngineObjectClosed = 3420;

class SqliteDatabaseService final : public DatabaseService {
  public:
    // A read-only service opens every database for reading only and never writes one.
    explicit SqliteDatabaseService(bool readOnly = false);
    ~SqliteDatabaseService() override;
    DBEngine& Engine() override;

  private:
    bool readOnly_;
    std::unique_ptr<DBEngine> engine_;
};

}  // namespace p2::posix
