// Databases and workgroup files of the stand-in engine, written into temporary folders.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "FakeStore.h"
#include "win32/Win32TestSupport.h"

namespace p2::win32::test {

using daofake::Store;
using daofake::Table;
using daofake::Value;

inline void WriteDatabase(const std::string& path, const Store& store) {
    WriteText(path, store.Text());
}

inline void WriteWorkgroup(const std::string& path, const std::string& user,
                           const std::string& password) {
    WriteText(path,
              std::string(daofake::kWorkgroupMarker) + "\r\n" + user + ":" + password + "\r\n");
}

// A database with one stamp table holding `stamp` as its Version row.
inline Store StampDatabase(const std::string& table, const Value& stamp) {
    return Store{{Table{table, {"InfoKey", "InfoValue"}, {{std::string("Version"), stamp}}}}};
}

inline Store ReadDatabase(const std::string& path) {
    auto store = daofake::Parse(ReadText(path));
    return store ? *store : Store{};
}

}  // namespace p2::win32::test
