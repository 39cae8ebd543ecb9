// The plan as aligned text (by display width) and as JSON.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/plan/Plan.h"
#include "update/CarryOver.h"

namespace p2::plan {
namespace {

// One code point of UTF-8 text from `i` on; an invalid byte stands for U+FFFD alone.
char32_t Decode(const std::string& text, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    const int length = lead < 0x80         ? 1
                       : (lead >> 5) == 6  ? 2
                       : (lead >> 4) == 14 ? 3
                       : (lead >> 3) == 30 ? 4
                                           : 0;
    if (length == 0 || i + static_cast<std::size_t>(length) > text.size()) {
        ++i;
        return 0xFFFD;
    }
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    i += static_cast<std::size_t>(length);
    return code;
}

bool Wide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
           (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
           (c >= 0x20000 && c <= 0x3FFFD);
}

bool Combining(char32_t c) {
    return (c >= 0x0300 && c <= 0x036F) || c == 0x3099 || c == 0x309A || c == 0x200B ||
           (c >= 0xFE00 && c <= 0xFE0F);
}

// A file name as one line of a terminal: control characters shown as '?'.
std::string Printable(const std::string& text) {
    std::string shown = text;
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    return shown;
}

std::string Json(const std::string& text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t start = i;
        const char32_t c = Decode(text, i);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else if (c == 0xFFFD && i - start == 1) {
            out += "\\ufffd";  // a byte that is no UTF-8: JSON text must be
        } else {
            out.append(text, start, i - start);
        }
    }
    return out + "\"";
}

std::string Time(int64_t seconds) {
    // Civil date of a day count (days since 1970-01-01), proleptic Gregorian.
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld UTC",
                  static_cast<long long>(year), static_cast<long long>(month),
                  static_cast<long long>(day), static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return text;
}

const char* Relation(int64_t a, int64_t b) {
    return a > b ? " > " : a == b ? " = " : " < ";
}

std::string Stamp(const Copy& copy) {
    if (copy.stampText && !copy.stamp) {
        return "\"" + *copy.stampText + "\" (no number)";
    }
    if (copy.noRow) {
        return "-1 (no Version row in " + copy.table + ")";
    }
    if (!copy.stamp) {
        return "-1 (unreadable)";
    }
    return std::to_string(*copy.stamp) +
           (copy.table.empty() ? " (no stamp table)" : " (" + copy.table + ")");
}

int64_t StampValue(const Copy& copy) {
    return copy.missing || !copy.stamp || copy.noRow ? -1 : *copy.stamp;
}

std::string Comparison(const FilePlan& file) {
    if (file.timeRoute) {
        std::string text = "not a database under the workgroup; modified ";
        text += file.delivered.modified ? Time(*file.delivered.modified) : "unreadable";
        if (file.installed.modified) {
            const int64_t delivered = file.delivered.modified.value_or(INT64_MIN);
            return text + Relation(delivered, *file.installed.modified) + "installed " +
                   Time(*file.installed.modified);
        }
        return text + (file.installed.missing ? "; no installed copy"
                                              : "; installed copy's time unreadable (error " +
                                                    std::to_string(file.installed.timeError) + ")");
    }
    if (!file.delivered.stampRead && !file.installed.stampRead) {
        return {};
    }
    std::string text = "stamp " + Stamp(file.delivered);
    if (file.installed.missing) {
        text += "; no installed copy";
    } else {
        text += std::string(Relation(StampValue(file.delivered), StampValue(file.installed))) +
                "installed " + Stamp(file.installed);
    }
    if (file.carriedOver) {
        text += "; settings carry-over: option password kept";
    } else if (file.carryOverOpened) {
        text += "; settings carry-over: an option table has no row, nothing copied";
    }
    return text;
}

void Join(std::string& text, const std::string& piece) {
    if (!piece.empty()) {
        text += (text.empty() ? "" : "; ") + piece;
    }
}

std::string ErrorText(const Failure& failure) {
    return "error " + std::to_string(failure.number) + ": " + failure.text +
           (failure.tag.empty() ? "" : " [" + failure.tag + "]");
}

const char* ActionName(Action action) {
    switch (action) {
        case Action::kReplace:
            return "replace";
        case Action::kDiscard:
            return "discard";
        case Action::kStop:
            return "stop";
        case Action::kStays:
            break;
    }
    return "stays";
}

const char* Route(const FilePlan& file) {
    if (file.name == kSettingsDatabaseName && file.touched) {
        return "\"settings\"";
    }
    if (file.timeRoute) {
        return "\"time\"";
    }
    return file.delivered.stampRead ? "\"stamp\"" : "null";
}

const FolderPlan* StopFolder(const Plan& plan) {
    for (const FolderPlan& folder : plan.folders) {
        if (!folder.completed) {
            return &folder;
        }
    }
    return nullptr;
}

const FilePlan* StopFile(const FolderPlan& folder) {
    for (const FilePlan& file : folder.files) {
        if (file.action == Action::kStop) {
            return &file;
        }
    }
    return nullptr;
}

std::string CopyJson(const Copy& copy) {
    std::string json = "{\"missing\": " + std::string(copy.missing ? "true" : "false");
    if (copy.stampRead) {
        json += ", \"stamp\": " + std::to_string(StampValue(copy)) +
                ", \"table\": " + (copy.table.empty() ? "null" : Json(copy.table)) +
                ", \"stampText\": " + (copy.stampText ? Json(*copy.stampText) : "null");
    }
    if (copy.timeRead) {
        json += ", \"modified\": " + (copy.modified ? std::to_string(*copy.modified) : "null");
    }
    return json + "}";
}

std::string ErrorsJson(const std::vector<Failure>& errors) {
    std::string json = "[";
    for (const Failure& failure : errors) {
        json += (json.size() > 1 ? ", " : "") + std::string("{\"number\": ") +
                std::to_string(failure.number) + ", \"text\": " + Json(failure.text) +
                ", \"tag\": " + Json(failure.tag) + "}";
    }
    return json + "]";
}

}  // namespace

std::size_t DisplayWidth(const std::string& text) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = Decode(text, i);
        width += Combining(c) ? 0 : Wide(c) ? 2 : 1;
    }
    return width;
}

std::string Why(const FolderPlan& folder, const FilePlan& file, const Plan& plan) {
    if (file.action == Action::kStays) {
        const FolderPlan* stop = StopFolder(plan);
        return !folder.reached && stop ? "not reached: the start stops in " + stop->name
                                       : "left for the next start";
    }
    std::string text = Comparison(file);
    for (const Failure& failure : file.errors) {
        Join(text, ErrorText(failure));
    }
    if (file.action == Action::kStop) {
        if (file.moveTried && file.moveAnswer != 0) {
            Join(text, file.deliveredBeingWritten
                           ? "the delivery is still open for writing by another program"
                       : file.installedInUse ? "installed copy in use"
                       : file.deliveredInUse
                           ? "delivered copy in use"
                           : "the move fails (answer " + std::to_string(file.moveAnswer) + ")");
        } else if (file.timeRoute && file.delivered.signature) {
            Join(text, "the delivery is a damaged database");
        } else if (file.timeRoute && file.installed.opened) {
            Join(text, "the installed copy is a database, the delivery is not");
        } else if (file.errors.empty()) {
            Join(text, "the delivered copy cannot be probed");
        }
    }
    return text;
}

std::string FormatText(const Plan& plan) {
    std::size_t nameWidth = 0;
    for (const FolderPlan& folder : plan.folders) {
        for (const FilePlan& file : folder.files) {
            nameWidth = std::max(nameWidth, DisplayWidth(Printable(file.name)));
        }
    }
    std::string text = "Plan for the next start of " + Printable(plan.installRoot) + "\n";
    int replaced = 0;
    int discarded = 0;
    int staying = 0;
    for (const FolderPlan& folder : plan.folders) {
        text += "\n" + folder.name + "  " + Printable(folder.updateFolder) + "\n";
        for (const Failure& failure : folder.errors) {
            text += "  " + ErrorText(failure) + "\n";
        }
        if (folder.files.empty()) {
            text += "  (no deliveries)\n";
        }
        for (const FilePlan& file : folder.files) {
            const std::string name = Printable(file.name);
            std::string action = ActionName(file.action);
            action.resize(7, ' ');
            text += "  " + action + "  " + name +
                    std::string(nameWidth - DisplayWidth(name) + 2, ' ') +
                    Printable(Why(folder, file, plan)) + "\n";
            replaced += file.action == Action::kReplace;
            discarded += file.action == Action::kDiscard;
            staying += file.action == Action::kStop || file.action == Action::kStays;
        }
    }
    text += "\n";
    const FolderPlan* stop = StopFolder(plan);
    if (!stop) {
        text += "The start gets through SYSTEM and LAN: " + std::to_string(replaced) +
                " replaced, " + std::to_string(discarded) + " discarded.\n";
    } else if (const FilePlan* file = StopFile(*stop)) {
        text += "The start stops at " + stop->name + "/" + Printable(file->name) + ": it and the " +
                std::to_string(staying - 1) +
                " file(s) after it stay in UPDATE for the next start.\n";
    } else {
        text += "The start stops in " + stop->name + "; " + std::to_string(staying) +
                " file(s) stay in UPDATE for the next start.\n";
    }
    return text;
}

std::string FormatJson(const Plan& plan) {
    const FolderPlan* stop = StopFolder(plan);
    const FilePlan* stopFile = stop ? StopFile(*stop) : nullptr;
    std::string json = "{\n  \"installRoot\": " + Json(plan.installRoot) +
                       ",\n  \"completes\": " + (stop ? "false" : "true") + ",\n  \"stop\": ";
    json += stop ? "{\"folder\": " + Json(stop->name) +
                       ", \"file\": " + (stopFile ? Json(stopFile->name) : "null") + "}"
                 : "null";
    json += ",\n  \"folders\": [";
    for (const FolderPlan& folder : plan.folders) {
        json += std::string(&folder == &plan.folders.front() ? "" : ",") +
                "\n    {\"name\": " + Json(folder.name) +
                ", \"updateFolder\": " + Json(folder.updateFolder) +
                ", \"reached\": " + (folder.reached ? "true" : "false") +
                ", \"completes\": " + (folder.completed ? "true" : "false") +
                ", \"errors\": " + ErrorsJson(folder.errors) + ", \"files\": [";
        for (const FilePlan& file : folder.files) {
            json += std::string(&file == &folder.files.front() ? "" : ",") +
                    "\n      {\"name\": " + Json(file.name) + ", \"action\": \"" +
                    ActionName(file.action) + "\", \"why\": " + Json(Why(folder, file, plan)) +
                    ", \"route\": " + Route(file) + ", \"installed\": " + CopyJson(file.installed) +
                    ", \"delivered\": " + CopyJson(file.delivered) +
                    ", \"carryOver\": " + (file.carriedOver ? "true" : "false") +
                    ", \"errors\": " + ErrorsJson(file.errors) + "}";
        }
        json += folder.files.empty() ? "]}" : "\n    ]}";
    }
    return json + "\n  ]\n}\n";
}

}  // namespace p2::plan

namespace p2::plan {

std::optional<Request> ParseArguments(const std::vector<std::string>& words) {
    Request request;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (words[i] == "--json" && !request.json) {
            request.json = true;
        } else if (words[i] == "--program-folder" && i + 1 < words.size() &&
                   !request.programFolder) {
            request.programFolder = words[++i];
        } else if (!words[i].starts_with("--") && !request.root) {
            request.root = words[i];
        } else {
            return std::nullopt;
        }
    }
    return request;
}

}  // namespace p2::plan
