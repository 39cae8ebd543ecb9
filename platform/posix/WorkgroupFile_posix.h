// The engine's workgroup file: an SQLite file of accounts with salted password hashes,
// marked so that no other SQLite file passes for one. Also the per-database list of the
// accounts that may open a secured database.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace p2::posix {

// Throws AppError 58 when `path` exists already; the file appears whole or not at all.
void CreateWorkgroupFile(const std::string& path);
// Throws AppError 3028 for a file that is no workgroup file, 58 for a name already there.
void AddWorkgroupAccount(const std::string& path, const std::string& name,
                         const std::string& password);
// Throws AppError 3029 for an unknown account.
void RemoveWorkgroupAccount(const std::string& path, const std::string& name);
// 0 when the file accepts the account; 3028 for a missing or unusable file, 3029 for an
// unknown account or a wrong password. Names compare without regard to letter case,
// passwords exactly.
int32_t VerifyWorkgroupAccount(const std::string& path, const std::string& name,
                               const std::string& password);

// The table inside a database that lists the accounts allowed to open it.
inline constexpr const char* kSecurityTable = "P2_Security";
// Adds the accounts to the database's list, creating the list when it has none.
void SecureDatabase(const std::string& path, const std::vector<std::string>& accounts);

}  // namespace p2::posix
