// The tables of one stand-in database, kept as a small text file so that the tests can write
// a database, and read what an update wrote back, without the engine.
//
//   P2FAKEDB
//   [table name]
//   column|column
//   value|value
//
// A value is text, "#<integer>", "~<real>" or "\N" (Null); "\\", "\|", "\#", "\~", "\n" and
// "\r" escape text. Empty lines are ignored. Everything is UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace p2::daofake {

inline constexpr const char* kDatabaseMarker = "P2FAKEDB";
// A workgroup file: this line, then one "user:password" line per account.
inline constexpr const char* kWorkgroupMarker = "P2FAKEWGF";

struct Null {
    bool operator==(const Null&) const = default;
};
using Value = std::variant<Null, std::string, int32_t, double>;

struct Table {
    std::string name;
    std::vector<std::string> columns;
    std::vector<std::vector<Value>> rows;
};

struct Store {
    std::vector<Table> tables;
    // Table and column names compare as the engine compares them: letter case aside.
    Table* Find(const std::string& name);
    std::string Text() const;
};

// Letter case folded, for names.
std::string Fold(const std::string& utf8);
int ColumnOf(const Table& table, const std::string& name);

// Nothing when `text` is not a database of this format (no marker, or a damaged body).
std::optional<Store> Parse(const std::string& text);

}  // namespace p2::daofake
