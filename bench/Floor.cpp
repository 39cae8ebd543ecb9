// The floors the update pass is measured against: the same work done with bare system and SQLite
// calls.
#include "Floor.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "Harness.h"

namespace p2bench {
namespace {

constexpr const char* kStampStatement =
    "SELECT InfoKey, InfoValue From T00_製品情報 WHERE InfoKey='Version';";

// The stamp's digits ("AB123" gives 123); -1 without one.
int Stamp(const std::string& path) {
    sqlite3* db = nullptr;
    int stamp = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, kStampStatement, -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 1));
            if (text && text[0] && text[1]) {
                stamp = std::atoi(text + 2);
            }
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return stamp;
}

}  // namespace

void PlainFloor(const std::string& folder) {
    const std::string update = folder + "/UPDATE";
    for (const std::string& name : ListNames(update)) {
        const std::string incoming = update + "/" + name;
        const int rc = name[0] == 'n' ? rename(incoming.c_str(), (folder + "/" + name).c_str())
                                      : unlink(incoming.c_str());
        if (rc != 0) {
            throw std::runtime_error("floor: cannot handle " + incoming);
        }
    }
}

void DatabaseFloor(const std::string& folder) {
    const std::string update = folder + "/UPDATE";
    for (const std::string& name : ListNames(update)) {
        const std::string installed = folder + "/" + name;
        const std::string incoming = update + "/" + name;
        const int rc = Stamp(incoming) > Stamp(installed)
                           ? rename(incoming.c_str(), installed.c_str())
                           : unlink(incoming.c_str());
        if (rc != 0) {
            throw std::runtime_error("floor: cannot handle " + incoming);
        }
    }
}

}  // namespace p2bench
