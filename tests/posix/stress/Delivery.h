// A mixed update delivered into a sandbox installation, with what every name may look like
// while the pass runs, after a kill, and when the pass is done.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace p2::stress {

inline constexpr const char* kSettings = "maintenance.sys";
inline constexpr const char* kUserPassword = "users-own-secret";
inline constexpr const char* kShippedPassword = "shipped-default";

// One delivered name in one installation folder.
struct Item {
    std::string folder;  // "SYSTEM" or "LAN"
    std::string name;
    std::optional<std::string> installed;  // bytes before the pass; none: no counterpart
    std::string incoming;                  // bytes delivered into UPDATE
    int64_t installedTime = 0;
    int64_t incomingTime = 0;
    bool replaces = false;  // the incoming copy is the newer one
};

// What one name looks like after a kill. kCopied: copied across file systems, the incoming
// copy not yet removed.
enum class State { kUntouched, kCarried, kCopied, kDone };

class Delivery {
  public:
    // About `perFolder` names in each of SYSTEM and LAN: databases newer, older, equal and
    // without counterpart by stamp; plain files newer, older, same time and without
    // counterpart by time; and one newer settings database with a row in both copies.
    Delivery(const std::string& scratch, int perFolder);

    const std::vector<Item>& Items() const { return items_; }
    // UPDATE lies on another file system than its installation folder: a kill may also leave
    // a name copied but not yet removed, and a temporary that the next start clears.
    void SetAcrossFileSystems(bool across) { across_ = across; }
    // Lays the installed copies and the delivery into the installation below `root`, whose
    // SYSTEM and LAN folders (with their UPDATE folders) are emptied first.
    void Lay(const std::string& root) const;

    // Describes every way in which the installation below `root` is not a state a killed
    // pass may leave; empty when it is one. Counts the state of every name into `states`.
    // A hot journal beside the incoming settings copy is allowed here and set in
    // `hotJournal`: its rolled-back copy must be intact.
    std::vector<std::string> CheckAfterKill(const std::string& root, std::map<State, int>& states,
                                            bool& hotJournal) const;
    // Describes every difference from the installation that a whole pass leaves.
    std::vector<std::string> CheckFinished(const std::string& root) const;

    // The contents of a database as text, rows of all tables in order; read from a copy so
    // that a hot journal is rolled back there and the file itself stays as it is.
    std::string Dump(const std::string& path) const;

  private:
    std::string Settings(const std::string& folder, bool incoming, bool carried) const;
    std::string scratch_;
    std::vector<Item> items_;
    bool across_ = false;
    // The logical contents of the settings databases: installed, incoming as shipped, and
    // incoming with the user's password carried over.
    std::map<std::string, std::string> settingsDumps_;
};

std::string ReadAll(const std::string& path, bool& exists);
// Every path below `folder`, relative to it, folders ending in '/'.
std::vector<std::string> Tree(const std::string& folder);

}  // namespace p2::stress
