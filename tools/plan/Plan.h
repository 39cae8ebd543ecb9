// What the next start would do with each delivered file: the update passes of a start run
// on ports that record instead of acting, so that the plan cannot drift from the start.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/ports/Database.h"
#include "platform/ports/FileOpCheck.h"
#include "platform/ports/Files.h"

namespace p2::plan {

enum class Action {
    kReplace,  // moved over the installed copy
    kDiscard,  // deleted
    kStop,     // the start stops here
    kStays,    // after the stop, or in a folder the start does not reach
};

// A failure the start would show in its error box.
struct Failure {
    int32_t number = 0;
    std::string text;
    std::string tag;
};

// What the pass learns of one copy of a file (installed or delivered).
struct Copy {
    bool missing = false;  // looked up and not found
    // Version stamp: the table it came from ("" when neither table exists), its text and its
    // number (none when the text does not read as one).
    bool stampRead = false;
    std::string table;
    bool noRow = false;
    std::optional<std::string> stampText;
    std::optional<int32_t> stamp;
    // Modification time, seconds since the epoch; none when it cannot be read.
    bool timeRead = false;
    std::optional<int64_t> modified;
    int32_t timeError = 0;
    bool opened = false;     // opened as a database under the workgroup
    bool signature = false;  // asked, and begins as a database
};

struct FilePlan {
    std::string name;
    Action action = Action::kStays;
    bool touched = false;
    bool timeRoute = false;
    Copy installed;
    Copy delivered;
    bool carryOverOpened = false;  // the settings route opened both option tables
    bool carriedOver = false;      // and would write the option password
    bool moveTried = false;
    int32_t moveAnswer = 0;
    bool installedInUse = false;
    bool deliveredInUse = false;
    bool deliveredBeingWritten = false;  // another program has it open for writing
    bool deleted = false;
    bool failureMessage = false;  // the pass's update-failure box names it
    std::vector<Failure> errors;
};

struct FolderPlan {
    std::string name;  // "SYSTEM" or "LAN"
    std::string updateFolder;
    bool reached = false;
    bool completed = false;
    std::vector<FilePlan> files;
    std::vector<Failure> errors;  // shown before any file was taken
};

struct Plan {
    std::string installRoot;
    std::vector<FolderPlan> folders;
    // True when a start would get through both folders.
    bool Completes() const;
};

// Runs the update passes of a start over `installRoot` (ending in the separator) as the
// launcher in `programFolder` would, on `files` (only read), `database` (opened read-only,
// never written) and `check` (asked, never acting). Changes nothing.
Plan MakePlan(const std::string& installRoot, const std::string& programFolder, Files& files,
              DatabaseService& database, FileOpCheck& check);

// Why the start does what it does with `file`, in a few words with the numbers.
std::string Why(const FolderPlan& folder, const FilePlan& file, const Plan& plan);
// Plain text, one aligned line per file; a closing line says where the start would stop.
std::string FormatText(const Plan& plan);
std::string FormatJson(const Plan& plan);
// Columns `text` takes on a terminal: East Asian wide characters take two.
std::size_t DisplayWidth(const std::string& text);

}  // namespace p2::plan

namespace p2::plan {

// `p2wg plan [<install root>] [--program-folder <dir>] [--json]`, the words after "plan".
struct Request {
    bool json = false;
    std::optional<std::string> root;
    std::optional<std::string> programFolder;
};
// Nothing for bad usage.
std::optional<Request> ParseArguments(const std::vector<std::string>& words);

inline constexpr const char* kUsage =
    "usage: p2wg plan [<install root>] [--program-folder <dir>] [--json]\n";
// Exit statuses: a start gets through both folders; it stops; bad usage or an installation
// that cannot be read.
inline constexpr int kExitCompletes = 0;
inline constexpr int kExitStops = 1;
inline constexpr int kExitCannot = 2;

}  // namespace p2::plan
