// RegGetString: one registry value as text, through a 1024-byte buffer.
#include "platform/mRegEdit.h"

#include <array>
#include <string_view>

namespace p2 {

std::string RegGetString(Registry& registry, uint32_t hive, const std::string& subKey,
                         const std::string& valueName) {
    std::array<unsigned char, kRegBufferSize> buffer{};
    std::string result;
    RegKey key = 0;
    if (registry.OpenKey(hive, subKey, kKeyRead, key) == kRegSuccess) {
        uint32_t type = 0;
        uint32_t size = kRegBufferSize;
        const long status = registry.QueryValue(key, valueName, type, buffer.data(), size);
        if (status == kRegSuccess) {
            // A full buffer without any NUL has no end to cut at: it reads as empty, so
            // nothing truncated is taken for a path.
            const std::string_view bytes(reinterpret_cast<const char*>(buffer.data()),
                                         buffer.size());
            const auto nul = bytes.find('\0');
            if (nul != std::string_view::npos) {
                result = registry.DecodeText(bytes.substr(0, nul));
            }
        }
        registry.CloseKey(key);
    }
    return result;
}

}  // namespace p2
