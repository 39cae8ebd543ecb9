// The registry port on Windows: the ANSI calls the program names, under any system code page.
#include <string>

#include "platform/win32/Api_win32.h"
#include "platform/win32/Ports_win32.h"
#include "platform/win32/Text_win32.h"

namespace p2::win32 {
namespace {

// The predefined keys are sign-extended 32-bit values.
HKEY Hive(uint32_t hive) {
    return reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(hive)));
}

}  // namespace

long Win32Registry::OpenKey(uint32_t hive, const std::string& subKey, uint32_t access,
                            RegKey& key) {
    HKEY handle = nullptr;
    // The classes as a 32-bit program sees them on 64-bit Windows, where a 32-bit Access
    // registers: the program that ships reads that view anyway, and 32-bit Windows ignores
    // the flag, so the x86_64 build of the tests reads what the shipped program reads. Other
    // keys keep the access the caller asks for.
    if (hive == kHKeyClassesRoot) {
        access |= KEY_WOW64_32KEY;
    }
    const LONG status = RegOpenKeyExA(Hive(hive), ToAnsi(subKey).c_str(), 0, access, &handle);
    if (status == ERROR_SUCCESS) {
        key = reinterpret_cast<RegKey>(handle);
    }
    return status;
}

long Win32Registry::QueryValue(RegKey key, const std::string& valueName, uint32_t& type,
                               unsigned char* data, uint32_t& size) {
    DWORD valueType = 0;
    DWORD dataSize = size;
    const LONG status = RegQueryValueExA(reinterpret_cast<HKEY>(key), ToAnsi(valueName).c_str(),
                                         nullptr, &valueType, data, &dataSize);
    type = valueType;
    size = dataSize;
    return status;
}

long Win32Registry::CloseKey(RegKey key) {
    return RegCloseKey(reinterpret_cast<HKEY>(key));
}

std::string Win32Registry::DecodeText(std::string_view bytes) {
    return FromAnsi(bytes);
}

}  // namespace p2::win32
