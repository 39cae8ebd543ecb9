// Deliveries for the stress tests: databases with stamps, files with times, and their checks.
#include "Delivery.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>

#include "Sandbox.h"

namespace p2::stress {
namespace fs = std::filesystem;

namespace {

constexpr int64_t kBaseTime = 1'700'000'000;
constexpr const char* kJournalSuffix = "-journal";

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out.flush()) {
        throw std::runtime_error("write " + path);
    }
}

void SetTime(const std::string& path, int64_t seconds) {
    const timespec times[2] = {{static_cast<time_t>(seconds), 0},
                               {static_cast<time_t>(seconds), 0}};
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        throw std::runtime_error("utimensat " + path);
    }
}

// A database with a version stamp, a body that tells it apart from every other file, and
// optionally the option table with one password; returned as its bytes.
std::string MakeDatabase(const std::string& scratch, const std::string& stamp,
                         const std::string& label, std::size_t bodySize,
                         const std::optional<std::string>& password) {
    const std::string path = scratch + "/make.db";
    fs::remove(path);
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("sqlite3_open " + path);
    }
    std::string sql =
        "PRAGMA synchronous=OFF; PRAGMA journal_mode=MEMORY; BEGIN;"
        "CREATE TABLE T00_製品情報 (InfoKey TEXT, InfoValue TEXT);"
        "INSERT INTO T00_製品情報 VALUES ('Version', '" +
        stamp +
        "');"
        "CREATE TABLE 内容 (label TEXT, body BLOB);"
        "INSERT INTO 内容 VALUES ('" +
        label + "', randomblob(" + std::to_string(bodySize) + "));";
    if (password) {
        sql +=
            "CREATE TABLE TZs_オプション設定 (id INTEGER PRIMARY KEY, pwd TEXT, other TEXT);"
            "INSERT INTO TZs_オプション設定 (pwd, other) VALUES ('" +
            *password + "', '" + label +
            "');"
            "INSERT INTO TZs_オプション設定 (pwd, other) VALUES ('second row', 'kept');";
    }
    e2e::ExecSql(db, sql + "COMMIT;");
    sqlite3_close(db);
    bool exists = false;
    std::string bytes = ReadAll(path, exists);
    fs::remove(path);
    return bytes;
}

std::string PlainFile(const std::string& label, std::size_t size) {
    std::string bytes = label + "\n";
    while (bytes.size() < size) {
        bytes += static_cast<char>('a' + (bytes.size() * 7 + label.size()) % 26);
    }
    return bytes;
}

std::string Describe(const std::optional<std::string>& bytes, const Item& item) {
    if (!bytes) {
        return "missing";
    }
    if (*bytes == item.incoming) {
        return "the new version";
    }
    if (item.installed && *bytes == *item.installed) {
        return "the old version";
    }
    return "other bytes (" + std::to_string(bytes->size()) + ")";
}

std::optional<std::string> Read(const std::string& path) {
    bool exists = false;
    std::string bytes = ReadAll(path, exists);
    return exists ? std::optional<std::string>(std::move(bytes)) : std::nullopt;
}

}  // namespace

std::string ReadAll(const std::string& path, bool& exists) {
    std::string bytes;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    exists = fd >= 0;
    if (!exists) {
        return bytes;
    }
    char buffer[1 << 16];
    ssize_t got = 0;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) {
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    return bytes;
}

std::vector<std::string> Tree(const std::string& folder) {
    std::vector<std::string> paths;
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(folder, ec)) {
        std::string relative = entry.path().string().substr(folder.size() + 1);
        if (entry.is_directory()) {
            relative += '/';
        }
        paths.push_back(relative);
    }
    return paths;
}

Delivery::Delivery(const std::string& scratch, int perFolder) : scratch_(scratch) {
    struct Kind {
        const char* tag;
        bool database;
        bool counterpart;
        int incomingOffset;  // stamp or seconds past the installed copy's
        int share;           // of every 40 names
    };
    static constexpr Kind kKinds[] = {
        {"db-newer", true, true, 1, 8},    {"db-older", true, true, -1, 4},
        {"db-equal", true, true, 0, 2},    {"db-added", true, false, 0, 4},
        {"txt-newer", false, true, 60, 8}, {"txt-older", false, true, -60, 4},
        {"txt-same", false, true, 0, 4},   {"txt-added", false, false, -3600, 6},
    };
    for (const char* folder : {"SYSTEM", "LAN"}) {
        int index = 0;
        for (const Kind& kind : kKinds) {
            const int count = perFolder * kind.share / 40;
            for (int n = 0; n < count; ++n, ++index) {
                Item item;
                item.folder = folder;
                const std::string base = std::string(kind.tag) + "-" + std::to_string(n);
                item.name = base + (kind.database ? ".mdb" : ".dat");
                const std::size_t size = 200 + static_cast<std::size_t>(index) * 397 % 9000;
                const int oldStamp = 100 + index;
                const std::string label = std::string(folder) + "/" + item.name;
                if (kind.database) {
                    if (kind.counterpart) {
                        item.installed = MakeDatabase(scratch, std::to_string(oldStamp),
                                                      label + " old", size, std::nullopt);
                    }
                    item.incoming =
                        MakeDatabase(scratch, std::to_string(oldStamp + kind.incomingOffset),
                                     label + " new", size + 50, std::nullopt);
                    item.replaces = kind.incomingOffset > 0 || !kind.counterpart;
                } else {
                    if (kind.counterpart) {
                        item.installed = PlainFile(label + " old", size);
                    }
                    item.incoming = PlainFile(label + " new", size + 11);
                    item.replaces = kind.incomingOffset > 0 || !kind.counterpart;
                }
                item.installedTime = kBaseTime + index;
                item.incomingTime = item.installedTime + kind.incomingOffset;
                items_.push_back(std::move(item));
            }
        }
        // A name as long as the file system allows, less a little: its temporary must fit too.
        Item longName;
        longName.folder = folder;
        for (int i = 0; i < 80; ++i) {
            longName.name += "長";
        }
        longName.name += ".txt";
        longName.installed = PlainFile(std::string(folder) + " long old", 3000);
        longName.incoming = PlainFile(std::string(folder) + " long new", 3011);
        longName.installedTime = kBaseTime;
        longName.incomingTime = kBaseTime + 60;
        longName.replaces = true;
        items_.push_back(std::move(longName));
        Item settings;
        settings.folder = folder;
        settings.name = kSettings;
        settings.installed = MakeDatabase(scratch, "5", std::string(folder) + " settings old", 3000,
                                          std::string(kUserPassword));
        settings.incoming = MakeDatabase(scratch, "6", std::string(folder) + " settings new", 6000,
                                         std::string(kShippedPassword));
        settings.installedTime = kBaseTime;
        settings.incomingTime = kBaseTime;
        settings.replaces = true;
        items_.push_back(settings);
        // The logical contents that the checks compare against.
        const std::string path = scratch + "/settings.db";
        WriteAll(path, *settings.installed);
        settingsDumps_[std::string(folder) + "/installed"] = Dump(path);
        WriteAll(path, settings.incoming);
        settingsDumps_[std::string(folder) + "/incoming"] = Dump(path);
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        e2e::ExecSql(db, "UPDATE TZs_オプション設定 SET pwd = '" + std::string(kUserPassword) +
                             "' WHERE rowid = (SELECT min(rowid) FROM TZs_オプション設定);");
        sqlite3_close(db);
        settingsDumps_[std::string(folder) + "/carried"] = Dump(path);
        fs::remove(path);
    }
}

void Delivery::Lay(const std::string& root) const {
    // The folders themselves stay, so that watches on them go on.
    for (const char* folder : {"SYSTEM", "LAN"}) {
        const std::string path = root + "/" + folder;
        fs::create_directories(path + "/UPDATE");
        for (const std::string& sub : {path, path + "/UPDATE"}) {
            for (const auto& entry : fs::directory_iterator(sub)) {
                if (entry.path().filename() != "UPDATE") {
                    fs::remove_all(entry.path());
                }
            }
        }
    }
    for (const Item& item : items_) {
        const std::string folder = root + "/" + item.folder;
        if (item.installed) {
            WriteAll(folder + "/" + item.name, *item.installed);
            SetTime(folder + "/" + item.name, item.installedTime);
        }
        WriteAll(folder + "/UPDATE/" + item.name, item.incoming);
        SetTime(folder + "/UPDATE/" + item.name, item.incomingTime);
    }
}

std::string Delivery::Settings(const std::string& folder, bool incoming, bool carried) const {
    return settingsDumps_.at(folder + (carried    ? "/carried"
                                       : incoming ? "/incoming"
                                                  : "/installed"));
}

std::string Delivery::Dump(const std::string& path) const {
    const std::string copy = scratch_ + "/dump.db";
    fs::remove(copy);
    fs::remove(copy + kJournalSuffix);
    fs::copy_file(path, copy);
    if (fs::exists(path + kJournalSuffix)) {
        fs::copy_file(path + kJournalSuffix, copy + kJournalSuffix);
    }
    std::string text;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        text = "<cannot open>";
    } else {
        std::vector<std::string> tables;
        auto collect = [](void* out, int, char** values, char**) {
            auto* rows = static_cast<std::vector<std::string>*>(out);
            rows->push_back(values[0] ? values[0] : "");
            return 0;
        };
        char* message = nullptr;
        std::vector<std::string> check;
        if (sqlite3_exec(db, "PRAGMA integrity_check", collect, &check, &message) != SQLITE_OK ||
            check != std::vector<std::string>{"ok"}) {
            text = "<damaged>";
        }
        sqlite3_free(message);
        sqlite3_exec(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name",
                     collect, &tables, nullptr);
        for (const std::string& table : tables) {
            text += "[" + table + "]\n";
            sqlite3_stmt* statement = nullptr;
            if (sqlite3_prepare_v2(db, ("SELECT * FROM \"" + table + "\" ORDER BY rowid").c_str(),
                                   -1, &statement, nullptr) == SQLITE_OK) {
                // Every value as its bytes, so that any changed byte shows.
                while (sqlite3_step(statement) == SQLITE_ROW) {
                    for (int c = 0; c < sqlite3_column_count(statement); ++c) {
                        const auto* bytes =
                            static_cast<const char*>(sqlite3_column_blob(statement, c));
                        const auto size =
                            static_cast<std::size_t>(sqlite3_column_bytes(statement, c));
                        text += bytes ? std::string(bytes, size) : std::string("<null>");
                        text += '|';
                    }
                    text += '\n';
                }
            }
            sqlite3_finalize(statement);
        }
    }
    sqlite3_close(db);
    fs::remove(copy);
    fs::remove(copy + kJournalSuffix);
    return text;
}

std::vector<std::string> Delivery::CheckAfterKill(const std::string& root,
                                                  std::map<State, int>& states,
                                                  bool& hotJournal) const {
    std::vector<std::string> faults;
    hotJournal = false;
    std::map<std::string, std::set<std::string>> expected;
    for (const Item& item : items_) {
        const std::string folder = root + "/" + item.folder;
        const std::string where = item.folder + "/" + item.name;
        const std::optional<std::string> installed = Read(folder + "/" + item.name);
        const std::optional<std::string> pending = Read(folder + "/UPDATE/" + item.name);
        expected[item.folder].insert(item.name);
        expected[item.folder].insert("UPDATE/" + item.name);
        if (item.name == kSettings) {
            const bool oldInstalled = installed == item.installed;
            if (oldInstalled && pending) {
                if (fs::exists(folder + "/UPDATE/" + item.name + kJournalSuffix)) {
                    hotJournal = true;
                }
                const std::string dump = Dump(folder + "/UPDATE/" + item.name);
                if (*pending == item.incoming || dump == Settings(item.folder, true, false)) {
                    ++states[State::kUntouched];
                } else if (dump == Settings(item.folder, true, true)) {
                    ++states[State::kCarried];
                } else {
                    faults.push_back(where + ": the pending copy is neither as delivered nor " +
                                     "as delivered with the user's password");
                }
            } else if (installed &&
                       Dump(folder + "/" + item.name) == Settings(item.folder, true, true) &&
                       (!pending || (across_ && *pending == *installed))) {
                ++states[pending ? State::kCopied : State::kDone];
            } else {
                faults.push_back(where + ": installed " + Describe(installed, item) + ", pending " +
                                 Describe(pending, item));
            }
            continue;
        }
        if (installed == item.installed && pending == item.incoming) {
            ++states[State::kUntouched];
        } else if (across_ && item.replaces && installed == item.incoming &&
                   pending == item.incoming) {
            ++states[State::kCopied];
        } else if (!pending &&
                   installed == (item.replaces ? std::optional<std::string>(item.incoming)
                                               : item.installed)) {
            ++states[State::kDone];
        } else {
            faults.push_back(where + ": installed " + Describe(installed, item) + ", pending " +
                             Describe(pending, item));
        }
    }
    for (const char* folder : {"SYSTEM", "LAN"}) {
        for (const std::string& path : Tree(root + "/" + folder)) {
            if (path == "UPDATE/" || expected[folder].count(path) != 0) {
                continue;
            }
            if (path == std::string("UPDATE/") + kSettings + kJournalSuffix) {
                hotJournal = true;
                continue;
            }
            if (across_ && path.front() == '.' && path.find('/') == std::string::npos &&
                path.size() > 13 && path.compare(path.size() - 13, 7, ".p2tmp-") == 0) {
                continue;  // a copy killed half way, cleared by the next start
            }
            faults.push_back(std::string(folder) + "/" + path + ": a side file");
        }
    }
    return faults;
}

std::vector<std::string> Delivery::CheckFinished(const std::string& root) const {
    std::vector<std::string> faults;
    std::map<std::string, std::set<std::string>> expected;
    for (const Item& item : items_) {
        const std::string path = root + "/" + item.folder + "/" + item.name;
        expected[item.folder].insert(item.name);
        const std::optional<std::string> installed = Read(path);
        if (item.name == kSettings) {
            const std::string dump = installed ? Dump(path) : std::string();
            if (dump != Settings(item.folder, true, true)) {
                const std::string what = !installed ? "missing"
                                         : dump == Settings(item.folder, false, false)
                                             ? "the old version"
                                         : dump == Settings(item.folder, true, false)
                                             ? "the new version with the shipped password"
                                             : "other contents: " + dump.substr(0, 200);
                faults.push_back(item.folder + "/" + item.name +
                                 ": not the new version with the user's password but " + what);
            }
        } else if (installed !=
                   (item.replaces ? std::optional<std::string>(item.incoming) : item.installed)) {
            faults.push_back(item.folder + "/" + item.name + ": installed " +
                             Describe(installed, item) + ", expected " +
                             (item.replaces ? "the new version" : "the old version"));
        }
    }
    for (const char* folder : {"SYSTEM", "LAN"}) {
        for (const std::string& path : Tree(root + "/" + folder)) {
            if (path != "UPDATE/" && expected[folder].count(path) == 0) {
                faults.push_back(std::string(folder) + "/" + path + ": left over");
            }
        }
    }
    return faults;
}

}  // namespace p2::stress
