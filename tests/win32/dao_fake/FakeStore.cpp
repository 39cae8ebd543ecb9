// The DAO stand-in's store: a database's tables read from and written to its small text file.
#include "FakeStore.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace p2::daofake {
namespace {

std::vector<std::string> SplitUnescaped(const std::string& line) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            parts.back() += line[i];
            parts.back() += line[++i];
        } else if (line[i] == '|') {
            parts.emplace_back();
        } else {
            parts.back() += line[i];
        }
    }
    return parts;
}

bool Unescape(const std::string& raw, std::string& out) {
    out.clear();
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\') {
            out += raw[i];
            continue;
        }
        if (++i == raw.size()) {
            return false;
        }
        switch (raw[i]) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case '\\':
            case '|':
            case '#':
            case '~':
                out += raw[i];
                break;
            default:
                return false;
        }
    }
    return true;
}

std::optional<Value> ParseValue(const std::string& raw) {
    if (raw == "\\N") {
        return Value{Null{}};
    }
    if (!raw.empty() && (raw[0] == '#' || raw[0] == '~')) {
        const std::string number = raw.substr(1);
        char* end = nullptr;
        if (raw[0] == '#') {
            const long long v = std::strtoll(number.c_str(), &end, 10);
            if (number.empty() || *end || v < INT32_MIN || v > INT32_MAX) {
                return std::nullopt;
            }
            return Value{static_cast<int32_t>(v)};
        }
        const double v = std::strtod(number.c_str(), &end);
        if (number.empty() || *end) {
            return std::nullopt;
        }
        return Value{v};
    }
    std::string text;
    if (!Unescape(raw, text)) {
        return std::nullopt;
    }
    return Value{text};
}

std::string Escape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\\' || c == '|' || (i == 0 && (c == '#' || c == '~'))) {
            out += '\\';
            out += c;
        } else {
            out += c;
        }
    }
    return out;
}

std::string ValueText(const Value& value) {
    if (std::holds_alternative<Null>(value)) {
        return "\\N";
    }
    if (const auto* integer = std::get_if<int32_t>(&value)) {
        std::string text = "#";
        text.append(std::to_string(*integer));
        return text;
    }
    if (const auto* real = std::get_if<double>(&value)) {
        char buffer[40];
        std::snprintf(buffer, sizeof buffer, "~%.17g", *real);
        return buffer;
    }
    return Escape(std::get<std::string>(value));
}

}  // namespace

std::string Fold(const std::string& utf8) {
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    if (n > 0) {
        CharUpperBuffW(wide.data(), static_cast<DWORD>(n));
    }
    const int m = WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
    std::string folded(static_cast<size_t>(m), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, folded.data(), m, nullptr, nullptr);
    return folded;
}

int ColumnOf(const Table& table, const std::string& name) {
    const std::string folded = Fold(name);
    for (size_t i = 0; i < table.columns.size(); ++i) {
        if (Fold(table.columns[i]) == folded) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

Table* Store::Find(const std::string& name) {
    const std::string folded = Fold(name);
    for (Table& table : tables) {
        if (Fold(table.name) == folded) {
            return &table;
        }
    }
    return nullptr;
}

std::string Store::Text() const {
    std::string text = std::string(kDatabaseMarker) + "\r\n";
    for (const Table& table : tables) {
        text.append("[").append(table.name).append("]\r\n");
        for (size_t i = 0; i < table.columns.size(); ++i) {
            text.append(i ? "|" : "").append(Escape(table.columns[i]));
        }
        text += "\r\n";
        for (const auto& row : table.rows) {
            for (size_t i = 0; i < row.size(); ++i) {
                text.append(i ? "|" : "").append(ValueText(row[i]));
            }
            text += "\r\n";
        }
    }
    return text;
}

std::optional<Store> Parse(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(std::move(line));
        start = end + 1;
    }
    if (lines.empty() || lines[0] != kDatabaseMarker) {
        return std::nullopt;
    }
    Store store;
    bool expectColumns = false;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.empty()) {
            continue;
        }
        if (line.front() == '[' && line.back() == ']' && line.size() > 2) {
            store.tables.push_back(Table{line.substr(1, line.size() - 2), {}, {}});
            expectColumns = true;
            continue;
        }
        if (store.tables.empty()) {
            return std::nullopt;
        }
        Table& table = store.tables.back();
        const std::vector<std::string> parts = SplitUnescaped(line);
        if (expectColumns) {
            for (const std::string& raw : parts) {
                std::string name;
                if (!Unescape(raw, name) || name.empty()) {
                    return std::nullopt;
                }
                table.columns.push_back(name);
            }
            expectColumns = false;
            continue;
        }
        if (parts.size() != table.columns.size()) {
            return std::nullopt;
        }
        std::vector<Value> row;
        for (const std::string& raw : parts) {
            std::optional<Value> value = ParseValue(raw);
            if (!value) {
                return std::nullopt;
            }
            row.push_back(std::move(*value));
        }
        table.rows.push_back(std::move(row));
    }
    return store;
}

}  // namespace p2::daofake
