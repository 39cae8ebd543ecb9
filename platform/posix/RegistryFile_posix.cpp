// The regedit export syntax. The reader is strict on purpose: a file it does not fully
// understand holds no keys, so that a half-read file never yields a wrong value.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/posix/Registry_posix.h"

namespace p2::posix {
namespace {

constexpr std::string_view kHeaderV5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeaderV4 = "REGEDIT4";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16ByteOrderMark = "\xFF\xFE";

constexpr std::array<std::string_view, 5> kHives = {
    "hkey_classes_root", "hkey_current_user",   "hkey_local_machine",
    "hkey_users",        "hkey_current_config",
};

using ValueMap = std::map<std::string, RegistryValue>;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    return s;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

std::string Fold(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && Fold(s.substr(0, prefix.size())) == prefix;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// 1 to 8 hex digits, the whole of `s`.
std::optional<uint32_t> ParseHex32(std::string_view s) {
    if (s.empty() || s.size() > 8) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (char c : s) {
        const int digit = HexDigit(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    return value;
}

class LineReader {
  public:
    explicit LineReader(std::string_view text) : text_(text) {}

    // The next line without its LF or CR LF.
    bool Next(std::string_view& line) {
        if (pos_ >= text_.size()) {
            return false;
        }
        const std::size_t end = text_.find('\n', pos_);
        const std::size_t stop = end == std::string_view::npos ? text_.size() : end;
        line = text_.substr(pos_, stop - pos_);
        pos_ = end == std::string_view::npos ? text_.size() : end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        return true;
    }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

// A quoted name or text starting at s[i] == '"', with \\ and \" escapes; i ends past the
// closing quote.
bool ParseQuoted(std::string_view s, std::size_t& i, std::string& out) {
    ++i;
    while (i < s.size()) {
        const char c = s[i++];
        if (c == '"') {
            return true;
        }
        if (c == '\\') {
            if (i >= s.size() || (s[i] != '\\' && s[i] != '"')) {
                return false;
            }
            out.push_back(s[i++]);
        } else {
            out.push_back(c);
        }
    }
    return false;
}

// Comma-separated bytes; a trailing backslash continues the list on the next line.
bool ParseHexList(std::string_view line, LineReader& lines, std::string& out) {
    std::size_t i = 0;
    bool needByte = false;
    const auto skipBlanks = [&] {
        while (i < line.size() && IsBlank(line[i])) {
            ++i;
        }
    };
    for (;;) {
        skipBlanks();
        if (i == line.size()) {
            return !needByte;
        }
        if (line[i] == '\\') {
            if (!TrimRight(line.substr(i + 1)).empty() || !lines.Next(line)) {
                return false;
            }
            i = 0;
            continue;
        }
        const int high = HexDigit(line[i]);
        if (high < 0) {
            return false;
        }
        int byte = high;
        ++i;
        if (i < line.size() && HexDigit(line[i]) >= 0) {
            byte = byte * 16 + HexDigit(line[i]);
            ++i;
        }
        out.push_back(static_cast<char>(byte));
        needByte = false;
        skipBlanks();
        if (i == line.size()) {
            return true;
        }
        if (line[i] != ',') {
            return false;
        }
        ++i;
        needByte = true;
    }
}

void AppendUtf8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// UTF-16LE to UTF-8; a lone surrogate becomes U+FFFD, or fails when `strict`. An odd byte
// count is no UTF-16.
bool Utf16ToUtf8(std::string_view in, std::string& out, bool strict = false) {
    if (in.size() % 2 != 0) {
        return false;
    }
    const auto unit = [&](std::size_t i) {
        return static_cast<char32_t>(static_cast<unsigned char>(in[i]) |
                                     (static_cast<unsigned char>(in[i + 1]) << 8));
    };
    out.clear();
    for (std::size_t i = 0; i < in.size(); i += 2) {
        char32_t c = unit(i);
        if (c >= 0xD800 && c <= 0xDBFF && i + 3 < in.size() && unit(i + 2) >= 0xDC00 &&
            unit(i + 2) <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            if (strict) {
                return false;
            }
            c = 0xFFFD;
        }
        AppendUtf8(c, out);
    }
    return true;
}

// "HKEY_...\A\B" to its folded path; a known hive and no empty part.
std::optional<std::string> KeyPath(std::string_view text) {
    std::string path = Fold(text);
    const std::size_t cut = path.find('\\');
    const std::string_view hive = std::string_view(path).substr(0, cut);
    bool known = false;
    for (std::string_view name : kHives) {
        known = known || hive == name;
    }
    if (!known) {
        return std::nullopt;
    }
    if (cut != std::string::npos &&
        (path.back() == '\\' || path.find("\\\\") != std::string::npos)) {
        return std::nullopt;
    }
    return path;
}

void DeleteKey(RegistryData& data, const std::string& path) {
    const bool existed = data.HasKey(path);
    data.keys.erase(path);
    const std::string prefix = path + '\\';
    auto it = data.keys.lower_bound(prefix);
    while (it != data.keys.end() && it->first.starts_with(prefix)) {
        it = data.keys.erase(it);
    }
    // The parent stays, even when it was only there because of the deleted key.
    const std::size_t cut = path.rfind('\\');
    if (existed && cut != std::string::npos) {
        data.keys.try_emplace(path.substr(0, cut));
    }
}

bool ParseData(std::string_view rest, LineReader& lines, bool unicode, RegistryValue& value) {
    if (!rest.empty() && rest.front() == '"') {
        std::size_t i = 0;
        std::string text;
        if (!ParseQuoted(rest, i, text) || i != rest.size()) {
            return false;
        }
        value.type = kRegTypeSz;
        value.data = std::move(text);
        value.data.push_back('\0');
        return true;
    }
    if (StartsWithNoCase(rest, "dword:")) {
        const auto number = ParseHex32(rest.substr(6));
        if (!number) {
            return false;
        }
        value.type = kRegTypeDword;
        for (int shift = 0; shift < 32; shift += 8) {
            value.data.push_back(static_cast<char>((*number >> shift) & 0xFF));
        }
        return true;
    }
    if (!StartsWithNoCase(rest, "hex")) {
        return false;
    }
    rest.remove_prefix(3);
    value.type = kRegTypeBinary;
    if (!rest.empty() && rest.front() == '(') {
        const std::size_t close = rest.find(')');
        if (close == std::string_view::npos) {
            return false;
        }
        const auto type = ParseHex32(rest.substr(1, close - 1));
        if (!type) {
            return false;
        }
        value.type = *type;
        rest.remove_prefix(close + 1);
    }
    if (rest.empty() || rest.front() != ':') {
        return false;
    }
    rest.remove_prefix(1);
    std::string bytes;
    if (!ParseHexList(rest, lines, bytes)) {
        return false;
    }
    // Version 5 files write these two types in the UTF-16 that Windows keeps them in.
    if (unicode && (value.type == kRegTypeExpandSz || value.type == kRegTypeMultiSz)) {
        return Utf16ToUtf8(bytes, value.data);
    }
    value.data = std::move(bytes);
    return true;
}

bool ParseValueLine(std::string_view body, LineReader& lines, bool unicode, ValueMap& values) {
    std::size_t i = 0;
    std::string name;
    if (body.front() == '@') {
        i = 1;
    } else if (body.front() != '"' || !ParseQuoted(body, i, name)) {
        return false;
    }
    std::string_view rest = TrimLeft(body.substr(i));
    if (rest.empty() || rest.front() != '=') {
        return false;
    }
    rest = TrimLeft(rest.substr(1));
    std::string folded = Fold(name);
    if (rest == "-") {
        values.erase(folded);
        return true;
    }
    RegistryValue value;
    if (!ParseData(rest, lines, unicode, value)) {
        return false;
    }
    values.insert_or_assign(std::move(folded), std::move(value));
    return true;
}

bool ParseInto(std::string_view text, RegistryData& data) {
    if (text.starts_with(kByteOrderMark)) {
        text.remove_prefix(kByteOrderMark.size());
    }
    LineReader lines(text);
    std::string_view line;
    if (!lines.Next(line)) {
        return false;
    }
    line = TrimRight(line);
    if (line != kHeaderV5 && line != kHeaderV4) {
        return false;
    }
    const bool unicode = line == kHeaderV5;
    ValueMap* current = nullptr;
    while (lines.Next(line)) {
        const std::string_view body = TrimRight(TrimLeft(line));
        if (body.empty() || body.front() == ';') {
            continue;
        }
        if (body.front() == '[') {
            if (body.size() < 2 || body.back() != ']') {
                return false;
            }
            std::string_view inner = body.substr(1, body.size() - 2);
            const bool remove = !inner.empty() && inner.front() == '-';
            if (remove) {
                inner.remove_prefix(1);
            }
            const auto path = KeyPath(inner);
            if (!path) {
                return false;
            }
            if (remove) {
                DeleteKey(data, *path);
                current = nullptr;
            } else {
                current = &data.keys[*path];
            }
            continue;
        }
        if (current == nullptr || !ParseValueLine(body, lines, unicode, *current)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool RegistryData::HasKey(std::string_view path) const {
    const std::string folded = Fold(path);
    if (keys.contains(folded)) {
        return true;
    }
    const std::string prefix = folded + '\\';
    const auto it = keys.lower_bound(prefix);
    return it != keys.end() && it->first.starts_with(prefix);
}

const RegistryValue* RegistryData::FindValue(std::string_view path, std::string_view name) const {
    const auto key = keys.find(Fold(path));
    if (key == keys.end()) {
        return nullptr;
    }
    const auto value = key->second.find(Fold(name));
    return value == key->second.end() ? nullptr : &value->second;
}

RegistryData ParseRegistry(std::string_view text) {
    RegistryData data;
    // regedit on Windows exports UTF-16LE with its byte-order mark.
    std::string decoded;
    if (text.starts_with(kUtf16ByteOrderMark)) {
        if (!Utf16ToUtf8(text.substr(kUtf16ByteOrderMark.size()), decoded, true)) {
            return {};
        }
        text = decoded;
    }
    if (!ParseInto(text, data)) {
        return {};
    }
    return data;
}

}  // namespace p2::posix
