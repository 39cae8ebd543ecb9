// The registry on Linux: one text file in the regedit export syntax, read only.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/ports/Registry.h"

namespace p2::posix {

constexpr uint32_t kRegTypeSz = 1;
constexpr uint32_t kRegTypeExpandSz = 2;
constexpr uint32_t kRegTypeBinary = 3;
constexpr uint32_t kRegTypeDword = 4;
constexpr uint32_t kRegTypeMultiSz = 7;

struct RegistryValue {
    uint32_t type = 0;
    std::string data;  // the bytes as Windows would store them
};

// The keys of one file. Paths start with the hive name ("hkey_local_machine\system"); paths
// and value names are held in ASCII lower case, as they compare without regard to case.
struct RegistryData {
    std::map<std::string, std::map<std::string, RegistryValue>> keys;

    // True when the key is listed or is the parent of a listed key. `path` in any case.
    bool HasKey(std::string_view path) const;
    // The value, or null; an empty name is the default value.
    const RegistryValue* FindValue(std::string_view path, std::string_view name) const;
};

// Reads a whole file's text. Total on any input, linear in its length; a malformed file
// gives no keys at all rather than part of them.
RegistryData ParseRegistry(std::string_view text);

// Files above this size hold no keys.
constexpr std::size_t kRegistryFileLimit = std::size_t{64} << 20;

class PosixRegistry final : public Registry {
  public:
    // The system's file: <first XDG config dir>/pelorin2/registry.reg.
    PosixRegistry();
    explicit PosixRegistry(std::string path);

    long OpenKey(uint32_t hive, const std::string& subKey, uint32_t access, RegKey& key) override;
    long QueryValue(RegKey key, const std::string& valueName, uint32_t& type, unsigned char* data,
                    uint32_t& size) override;
    long CloseKey(RegKey key) override;
    std::string DecodeText(std::string_view bytes) override;

  private:
    void Load();

    std::string path_;
    bool loaded_ = false;
    RegistryData data_;
    std::map<RegKey, std::string> open_;  // handle -> key path
    RegKey nextKey_ = 1;
};

}  // namespace p2::posix
