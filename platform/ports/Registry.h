// The registry, read side only, with the return codes of the Win32 calls it stands for.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace p2 {

using RegKey = std::uintptr_t;

constexpr uint32_t kHKeyClassesRoot = 0x80000000u;
constexpr uint32_t kHKeyLocalMachine = 0x80000002u;
constexpr uint32_t kKeyRead = 0x20019u;
constexpr uint32_t kKeyAllAccess = 0xF003Fu;

constexpr long kRegSuccess = 0;
constexpr long kRegFileNotFound = 2;
constexpr long kRegAccessDenied = 5;
constexpr long kRegMoreData = 234;

class Registry {
  public:
    virtual ~Registry() = default;
    // Names are UTF-8; the port converts them to its store's code page.
    virtual long OpenKey(uint32_t hive, const std::string& subKey, uint32_t access,
                         RegKey& key) = 0;
    // Copies the value's bytes (in the store's code page) to `data`, leaving the rest of
    // the buffer untouched; `size` is the buffer size in and the data size out. Fails with
    // kRegMoreData when the data needs more than `size` bytes.
    virtual long QueryValue(RegKey key, const std::string& valueName, uint32_t& type,
                            unsigned char* data, uint32_t& size) = 0;
    virtual long CloseKey(RegKey key) = 0;
    // Text in the store's code page back to UTF-8.
    virtual std::string DecodeText(std::string_view bytes) = 0;
};

}  // namespace p2
