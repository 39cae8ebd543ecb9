// `p2wg plan` on sandbox installations: it changes nothing, and the start that follows does
// with every delivered file what the plan said.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "Sandbox.h"
#include "update/FileUpdate.h"

namespace p2::e2e {
namespace {

namespace fs = std::filesystem;

struct ToolResult {
    int exitCode = -1;
    std::string out;
};

ToolResult Plan(const std::string& arguments) {
    const std::string command = std::string(P2_BIN_DIR) + "/p2wg plan " + arguments + " 2>&1";
    ToolResult result;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.out.append(buffer, got);
    }
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string PlanOf(const Sandbox& box, const std::string& options = "") {
    return box.Root() + " --program-folder " + box.Program() + options;
}

// Every entry below `root` with its kind, mode, size, time and bytes.
std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> facts;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        struct stat info {};
        lstat(entry.path().c_str(), &info);
        std::string fact = std::to_string(info.st_mode) + " " + std::to_string(info.st_size) + " " +
                           std::to_string(info.st_mtim.tv_sec) + "." +
                           std::to_string(info.st_mtim.tv_nsec);
        if (S_ISREG(info.st_mode)) {
            fact += " " + Sandbox::ReadFile(entry.path().string());
        }
        facts[entry.path().string()] = fact;
    }
    return facts;
}

// A database with its stamp in `table`, and the option table when a password is given.
void Database(const std::string& path, const std::string& table, const std::string& stamp,
              const std::optional<std::string>& password = std::nullopt) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    std::string sql = "CREATE TABLE " + table + " (InfoKey TEXT, InfoValue TEXT);" +
                      "INSERT INTO " + table + " VALUES ('Version', '" + stamp + "');";
    if (password) {
        sql +=
            "CREATE TABLE TZs_オプション設定 (id INTEGER PRIMARY KEY, pwd TEXT);"
            "INSERT INTO TZs_オプション設定 (pwd) VALUES ('" +
            *password + "');";
    }
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << path;
    sqlite3_close(db);
}

// Holds an open-file lock on a file, as a running Access holds its files.
class Held {
  public:
    explicit Held(const std::string& path) : fd_(open(path.c_str(), O_RDWR)) {
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        EXPECT_EQ(fcntl(fd_, F_OFD_SETLK, &lock), 0);
    }
    ~Held() { close(fd_); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

  private:
    int fd_;
};

struct Delivered {
    std::string folder;
    std::string name;
    std::optional<std::string> installed;  // bytes before the start
    std::string incoming;
    std::optional<std::string> password;  // the installed settings copy's
};

// A random installation: plain files newer, older and equal by time; databases with higher,
// lower and equal stamps in either table; settings databases; and, in two rounds of three,
// one file in the middle that stops the start: a copy in use, or a settings delivery that
// lacks its table.
std::vector<Delivered> Lay(Sandbox& box, std::mt19937& random,
                           std::vector<std::unique_ptr<Held>>& held) {
    constexpr int64_t kTime = 1'700'000'000;
    const int counts[] = {3 + static_cast<int>(random() % 4), 3 + static_cast<int>(random() % 4)};
    int failAt =
        static_cast<int>(random() % static_cast<unsigned>((counts[0] + counts[1]) * 3 / 2));
    std::vector<Delivered> items;
    for (const std::string folder : {"SYSTEM", "LAN"}) {
        const std::string installed = box.Root() + "/" + folder + "/";
        const std::string incoming = installed + "UPDATE/";
        const int count = counts[folder == "LAN"];
        // One settings database in most folders; a failing one only as the failing file.
        const int settingsAt = static_cast<int>(random() % static_cast<unsigned>(count + 1));
        bool settings = false;
        for (int i = 0; i < count; ++i, --failAt) {
            int kind = i == settingsAt && !settings ? 9 : static_cast<int>(random() % 9);
            if (failAt == 0) {
                kind = settings || i == settingsAt ? 10 + static_cast<int>(random() % 2)
                                                   : 10 + static_cast<int>(random() % 3);
            }
            std::string name = folder.substr(0, 1) + std::to_string(i);
            if (kind < 4 || kind == 10) {  // plain: newer, older, equal, new; newer in use
                name += ".txt";
                Sandbox::WriteFile(incoming + name, "delivered " + name);
                Sandbox::SetTime(incoming + name, kTime + (kind == 1 ? -60 : kind == 2 ? 0 : 60));
                if (kind != 3) {
                    Sandbox::WriteFile(installed + name, "installed " + name);
                    Sandbox::SetTime(installed + name, kTime);
                }
            } else if (kind < 9 || kind == 11) {  // database: higher, lower, equal, new, older
                                                  // layout; higher in use
                name += ".mdb";
                const std::string table = kind == 8 ? "DB情報" : "T00_製品情報";
                Database(incoming + name, table,
                         std::to_string(10 + (kind == 5   ? -1
                                              : kind == 6 ? 0
                                                          : 1)));
                if (kind != 7) {
                    Database(installed + name, table, "10");
                }
            } else {  // settings: carried over, or the delivery lacks its table
                settings = true;
                name = "maintenance.sys";
                Database(installed + name, "T00_製品情報", "3", "own");
                Database(incoming + name, "T00_製品情報", "4",
                         kind == 9 ? std::optional<std::string>("shipped") : std::nullopt);
            }
            Delivered item{folder, name, std::nullopt, Sandbox::ReadFile(incoming + name)};
            if (Sandbox::Exists(installed + name)) {
                item.installed = Sandbox::ReadFile(installed + name);
                item.password = Sandbox::PasswordOf(installed + name);
            }
            if (kind == 10 || kind == 11) {
                held.push_back(std::make_unique<Held>(installed + name));
            }
            items.push_back(item);
        }
    }
    return items;
}

// "folder/name" -> "action" of every file in a plan in JSON, in its order.
std::vector<std::pair<std::string, std::string>> Actions(const std::string& json) {
    std::vector<std::pair<std::string, std::string>> actions;
    static const std::regex kEntry(
        "\\{\"name\": \"([^\"]*)\", \"(action|updateFolder)\": \"([^\"]*)\"");
    std::string folder;
    for (std::sregex_iterator it(json.begin(), json.end(), kEntry), end; it != end; ++it) {
        if ((*it)[2] == "updateFolder") {
            folder = (*it)[1];
        } else {
            actions.emplace_back(folder + "/" + (*it)[1].str(), (*it)[3]);
        }
    }
    return actions;
}

TEST(Plan, TheStartDoesWhatThePlanSaidAndThePlanChangesNothing) {
    std::mt19937 random(20261207);
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Sandbox box;
        std::vector<std::unique_ptr<Held>> held;
        const std::vector<Delivered> items = Lay(box, random, held);

        const auto before = Snapshot(box.Root());
        const ToolResult plan = Plan(PlanOf(box, " --json"));
        EXPECT_EQ(Snapshot(box.Root()), before) << "the plan changed the installation";

        box.Run({"main.mdb"});
        const auto actions = Actions(plan.out);
        std::map<std::string, std::string> said;
        for (const auto& [name, action] : actions) {
            said[name] = action;
        }
        bool stops = false;
        for (const Delivered& item : items) {
            SCOPED_TRACE(item.folder + "/" + item.name);
            const std::string action = said[item.folder + "/" + item.name];
            const std::string installed = box.Root() + "/" + item.folder + "/" + item.name;
            const std::string incoming = box.Root() + "/" + item.folder + "/UPDATE/" + item.name;
            stops = stops || action == "stop";
            if (action == "replace") {
                EXPECT_FALSE(Sandbox::Exists(incoming));
                if (item.name == "maintenance.sys") {
                    EXPECT_EQ(Sandbox::PasswordOf(installed), item.password);
                } else {
                    EXPECT_EQ(Sandbox::ReadFile(installed), item.incoming);
                }
            } else {
                ASSERT_TRUE(action == "discard" || action == "stop" || action == "stays")
                    << "no action for it in the plan:\n"
                    << plan.out;
                EXPECT_EQ(Sandbox::Exists(incoming), action != "discard");
                EXPECT_EQ(Sandbox::Exists(installed), item.installed.has_value());
                if (item.installed) {
                    EXPECT_EQ(Sandbox::ReadFile(installed), *item.installed);
                }
            }
        }
        EXPECT_EQ(actions.size(), items.size());
        EXPECT_EQ(plan.exitCode, stops ? 1 : 0) << plan.out;
    }
}

TEST(Plan, PrintsOneAlignedLinePerFileAndWhereTheStartStops) {
    Sandbox box;
    const std::string system = box.System() + "/";
    Database(system + "売上.mdb", "T00_製品情報", "AB105");
    Database(system + "UPDATE/売上.mdb", "T00_製品情報", "AB104");
    Sandbox::WriteFile(system + "UPDATE/readme.txt", "new");
    Sandbox::SetTime(system + "UPDATE/readme.txt", 1'700'000'000);
    Database(box.Lan() + "/maintenance.sys", "DB情報", "3", "own");
    Database(box.Lan() + "/UPDATE/maintenance.sys", "T00_製品情報", "4");

    const ToolResult text = Plan(PlanOf(box));
    std::string out = text.out;
    for (size_t at; (at = out.find(box.Root())) != std::string::npos;) {
        out.replace(at, box.Root().size(), "ROOT");
    }
    // The listing's order is the folder's: compare the SYSTEM lines as a set.
    const std::string replaceLine =
        "  replace  readme.txt       not a database under the workgroup; modified "
        "2023-11-14 22:13:20 UTC; no installed copy\n";
    const std::string discardLine =
        "  discard  売上.mdb         stamp 104 (T00_製品情報) < installed 105 (T00_製品情報)\n";
    EXPECT_NE(out.find(replaceLine), std::string::npos) << out;
    EXPECT_NE(out.find(discardLine), std::string::npos) << out;
    EXPECT_NE(out.find("Plan for the next start of ROOT/\n\nSYSTEM  ROOT/SYSTEM/UPDATE\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\nLAN  ROOT/LAN/UPDATE\n"
                       "  stop     maintenance.sys  stamp 4 (T00_製品情報) > installed 3 (DB情報); "
                       "error 3078: "),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("[mMain-FileUpdate]\n\nThe start stops at LAN/maintenance.sys: it and the "
                       "0 file(s) after it stay in UPDATE for the next start.\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(text.exitCode, 1);

    const std::string json = Plan(PlanOf(box, " --json")).out;
    for (const std::string& piece :
         {std::string("\"completes\": false,\n  \"stop\": {\"folder\": \"LAN\", \"file\": "
                      "\"maintenance.sys\"},\n  \"folders\": [\n    {\"name\": \"SYSTEM\""),
          std::string("{\"name\": \"売上.mdb\", \"action\": \"discard\", \"why\": \"stamp 104 "
                      "(T00_製品情報) < installed 105 (T00_製品情報)\", \"route\": \"stamp\", "
                      "\"installed\": {\"missing\": false, \"stamp\": 105, \"table\": "
                      "\"T00_製品情報\", \"stampText\": \"AB105\"}, \"delivered\": {\"missing\": "
                      "false, \"stamp\": 104, \"table\": \"T00_製品情報\", \"stampText\": "
                      "\"AB104\"}, \"carryOver\": false, \"errors\": []}"),
          std::string("\"route\": \"time\", \"installed\": {\"missing\": true, \"modified\": "
                      "null}, \"delivered\": {\"missing\": false, \"modified\": 1700000000}"),
          std::string("\"errors\": [{\"number\": 3078, \"text\": ")}) {
        EXPECT_NE(json.find(piece), std::string::npos) << piece << "\nin\n" << json;
    }
}

// A file held open by another program, as a copier or a reader holds it, until let go.
class OpenFile {
  public:
    OpenFile(const std::string& path, int flags) : fd_(open(path.c_str(), flags | O_CLOEXEC)) {
        EXPECT_GE(fd_, 0) << path;
    }
    ~OpenFile() { Close(); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    void Append(const std::string& bytes) {
        EXPECT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void Close() {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = -1;
    }

  private:
    int fd_;
};

// Some 112 KiB: the header counts more pages than half of it holds, so SQLite refuses the half.
std::string LargeDatabase(const std::string& path, const std::string& stamp) {
    Database(path, "T00_製品情報", stamp);
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    ExecSql(db, "CREATE TABLE Filler (b BLOB); INSERT INTO Filler VALUES (zeroblob(108000));");
    sqlite3_close(db);
    return Sandbox::ReadFile(path);
}

// What a start does with a delivery that is not whole yet, and what the plan says of it first;
// at the next start, once the copy is whole or let go, it is moved in.
TEST(Plan, OnlyAWholeDeliveryClosedByItsCopierReplacesTheInstalledCopy) {
    enum Kind { kCutOverWorking, kCutBeforeItsHeader, kCutNew, kWritten, kInstalledWritten, kRead };
    const struct Case {
        Kind kind;
        std::string name;
        const char* reason;  // the plan's; none when the start takes the delivery at once
    } cases[] = {
        {kCutOverWorking, "sales.mdb", "the delivery is a damaged database"},
        {kCutBeforeItsHeader, "sales.mdb", "the installed copy is a database, the delivery is not"},
        {kCutNew, "new.mdb", "the delivery is a damaged database"},
        {kWritten, "help.txt", "the delivery is still open for writing by another program"},
        {kInstalledWritten, "help.txt", "installed copy in use"},
        {kRead, "help.txt", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + " " + std::to_string(c.kind));
        Sandbox box;
        Sandbox::MakeDatabase(box.Program() + "/main.mdb", "1");
        const std::string installed = box.System() + "/" + c.name;
        const std::string incoming = box.System() + "/UPDATE/" + c.name;
        std::string whole = "0123456789, and the rest of the copy";
        std::unique_ptr<OpenFile> other;
        if (c.kind == kCutOverWorking || c.kind == kCutBeforeItsHeader) {
            LargeDatabase(installed, "AB104");
        } else if (c.kind != kCutNew) {
            Sandbox::WriteFile(installed, "installed");
        }
        if (c.kind <= kCutNew) {
            whole = LargeDatabase(incoming, "AB105");
            Sandbox::WriteFile(
                incoming, whole.substr(0, c.kind == kCutBeforeItsHeader ? 10 : whole.size() / 2));
        } else {
            Sandbox::WriteFile(incoming, c.kind == kWritten ? whole.substr(0, 10) : whole);
            other = std::make_unique<OpenFile>(c.kind == kInstalledWritten ? installed : incoming,
                                               c.kind == kRead ? O_RDONLY : O_WRONLY | O_APPEND);
        }
        if (Sandbox::Exists(installed)) {
            Sandbox::SetTime(installed, 1'600'000'000);
        }
        Sandbox::SetTime(incoming, 1'700'000'000);
        const auto before = Snapshot(box.Root());
        const auto copies = [&] {
            return std::vector<std::string>{
                Sandbox::Exists(installed) ? Sandbox::ReadFile(installed) : "<missing>",
                Sandbox::Exists(incoming) ? Sandbox::ReadFile(incoming) : "<missing>"};
        };
        const std::vector<std::string> laid = copies();

        const ToolResult plan = Plan(PlanOf(box));
        EXPECT_TRUE(Snapshot(box.Root()) == before) << "the plan changed the installation";
        EXPECT_EQ(plan.exitCode, c.reason ? 1 : 0) << plan.out;
        EXPECT_NE(plan.out.find((c.reason ? "  stop     " : "  replace  ") + c.name + "  "),
                  std::string::npos)
            << plan.out;
        if (c.reason) {
            EXPECT_NE(plan.out.find(std::string("; ") + c.reason + "\n"), std::string::npos)
                << plan.out;
            const RunResult stopped = box.Run({"main.mdb"});
            EXPECT_EQ(stopped.err,
                      "ペロリンⅡ [exclamation]\n\"" + c.name + kUpdateFailedMessage + "\n");
            EXPECT_TRUE(copies() == laid) << "both copies byte for byte";
            EXPECT_TRUE(box.AccessArguments(false).empty());
            if (c.kind <= kCutNew) {
                Sandbox::WriteFile(incoming, whole);
            } else {
                other->Append(c.kind == kWritten ? whole.substr(10) : "");
                other->Close();
            }
        }
        const RunResult taken = box.Run({"main.mdb"});
        EXPECT_EQ(taken.err, "");
        EXPECT_TRUE(Sandbox::ReadFile(installed) == whole);
        EXPECT_FALSE(Sandbox::Exists(incoming));
        EXPECT_EQ(box.AccessArguments(true).size(), 8u);
    }
}

TEST(Plan, ExitsWithTwoForBadUsageAndAnUnreadableInstallation) {
    Sandbox box;
    Sandbox::WriteFile(box.Root() + "/plain", "not a folder");
    struct Case {
        std::string arguments;
        int exitCode;
    } cases[] = {
        {PlanOf(box), 0},
        {PlanOf(box, " --json"), 0},
        {PlanOf(box, " --colour"), 2},
        {PlanOf(box, " another"), 2},
        {box.Root() + "/no-such-folder", 2},
        {box.Root() + "/plain --program-folder " + box.Program(), 2},
        {box.Root(), 2},  // no program folder named Pelorin2 there
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Plan(c.arguments).exitCode, c.exitCode) << c.arguments;
    }
}

}  // namespace
}  // namespace p2::e2e
