// The registry file's text: any bytes give a well-formed key set, and, in UTF-8, the same keys
// whatever the line ends and whether a byte-order mark leads.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "platform/posix/Registry_posix.h"

namespace {

bool SameData(const p2::posix::RegistryData& a, const p2::posix::RegistryData& b) {
    if (a.keys.size() != b.keys.size()) {
        return false;
    }
    for (auto ia = a.keys.begin(), ib = b.keys.begin(); ia != a.keys.end(); ++ia, ++ib) {
        if (ia->first != ib->first || ia->second.size() != ib->second.size()) {
            return false;
        }
        for (auto va = ia->second.begin(), vb = ib->second.begin(); va != ia->second.end();
             ++va, ++vb) {
            if (va->first != vb->first || va->second.type != vb->second.type ||
                va->second.data != vb->second.data) {
                return false;
            }
        }
    }
    return true;
}

bool Folded(std::string_view s) {
    for (char c : s) {
        if (c >= 'A' && c <= 'Z') {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const p2::posix::RegistryData parsed = p2::posix::ParseRegistry(text);
    for (const auto& [path, values] : parsed.keys) {
        P2_FUZZ_CHECK(Folded(path));
        P2_FUZZ_CHECK(path.starts_with("hkey_"));
        P2_FUZZ_CHECK(path.back() != '\\' && path.find("\\\\") == std::string::npos);
        P2_FUZZ_CHECK(parsed.HasKey(path));
        for (const auto& [name, value] : values) {
            P2_FUZZ_CHECK(Folded(name));
            P2_FUZZ_CHECK(parsed.FindValue(path, name) == &value);
        }
    }

    // A UTF-8 file is read alike with either line end and with or without a byte-order mark;
    // UTF-16 text is not UTF-8 with either added.
    if (text.starts_with("\xFF\xFE")) {
        return 0;
    }
    if (text.find('\r') == std::string_view::npos) {
        std::string crlf;
        for (char c : text) {
            if (c == '\n') {
                crlf += '\r';
            }
            crlf += c;
        }
        P2_FUZZ_CHECK(SameData(parsed, p2::posix::ParseRegistry(crlf)));
    }
    if (!text.starts_with("\xEF\xBB\xBF")) {
        P2_FUZZ_CHECK(
            SameData(parsed, p2::posix::ParseRegistry("\xEF\xBB\xBF" + std::string(text))));
    }
    return 0;
}
