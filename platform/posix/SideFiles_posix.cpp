// A database's side files (-journal, -wal, -shm) kept with it through every move and delete.
#include "platform/posix/SideFiles_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/posix/FileLock_posix.h"

namespace p2::posix {
namespace {

enum class Kind { kJournal, kWal, kShm };

struct Suffix {
    std::string_view text;
    Kind kind;
};
constexpr std::array<Suffix, 3> kSuffixes = {{
    {"-journal", Kind::kJournal},
    {"-wal", Kind::kWal},
    {"-shm", Kind::kShm},
}};

constexpr int kBusyTimeoutMs = 200;

// The first bytes of a regular file; empty for an empty file or one that cannot be read.
std::string Head(int dirFd, const std::string& name, std::size_t size, bool& readable) {
    readable = false;
    const int fd = openat(dirFd, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    std::string head(size, '\0');
    struct stat info {};
    ssize_t got = -1;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        got = pread(fd, head.data(), size, 0);
    }
    close(fd);
    readable = got >= 0;
    head.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return head;
}

uint32_t BigEndian32(const std::string& bytes) {
    const auto b = [&](int i) {
        return static_cast<uint32_t>(static_cast<unsigned char>(bytes[i]));
    };
    return b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
}

// Empty (just made), or headed as SQLite heads the kind: a journal with its magic number or
// the zeros it has until its first sync, a WAL with its magic, a WAL index with its version.
bool HeadedAs(Kind kind, const std::string& head) {
    if (head.empty()) {
        return true;
    }
    switch (kind) {
        case Kind::kJournal: {
            static constexpr unsigned char kMagic[8] = {0xd9, 0xd5, 0x05, 0xf9,
                                                        0x20, 0xa1, 0x63, 0xd7};
            return head.size() == 8 && (std::memcmp(head.data(), kMagic, 8) == 0 ||
                                        head.find_first_not_of('\0') == std::string::npos);
        }
        case Kind::kWal:
            return head.size() >= 4 &&
                   (BigEndian32(head) == 0x377f0682u || BigEndian32(head) == 0x377f0683u);
        case Kind::kShm: {
            uint32_t version = 0;
            if (head.size() >= sizeof version) {
                std::memcpy(&version, head.data(), sizeof version);  // kept in native order
            }
            return version == 3007000u;
        }
    }
    return false;
}

bool IsSideFileNamed(int dirFd, const std::string& name, const Suffix& suffix) {
    bool readable = false;
    const std::string head = Head(dirFd, name, 8, readable);
    return readable && HeadedAs(suffix.kind, head);
}

bool IsDatabaseAt(int dirFd, const std::string& name) {
    static constexpr std::string_view kMagic{"SQLite format 3\0", 16};
    bool readable = false;
    return Head(dirFd, name, kMagic.size(), readable) == kMagic;
}

bool IsDatabase(const std::string& path) {
    return IsDatabaseAt(AT_FDCWD, path);
}

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

bool AnySideFile(const std::string& path) {
    for (const Suffix& suffix : kSuffixes) {
        if (Exists(path + std::string(suffix.text))) {
            return true;
        }
    }
    return false;
}

bool AnyHeadedSideFile(const std::string& path) {
    for (const Suffix& suffix : kSuffixes) {
        if (IsSideFileNamed(AT_FDCWD, path + std::string(suffix.text), suffix)) {
            return true;
        }
    }
    return false;
}

// Whether `source`, put at `destination`, would be a side file of the database there.
bool SideFileFor(const std::string& source, const std::string& destination) {
    for (const Suffix& suffix : kSuffixes) {
        if (destination.size() > suffix.text.size() && destination.ends_with(suffix.text)) {
            return IsDatabase(destination.substr(0, destination.size() - suffix.text.size())) &&
                   IsSideFileNamed(AT_FDCWD, source, suffix);
        }
    }
    return false;
}

}  // namespace

bool IsSideFileOf(int dirFd, const std::string& name, const std::set<std::string>& names) {
    for (const Suffix& suffix : kSuffixes) {
        if (name.size() > suffix.text.size() && name.ends_with(suffix.text) &&
            names.count(name.substr(0, name.size() - suffix.text.size())) != 0) {
            return IsSideFileNamed(dirFd, name, suffix) &&
                   IsDatabaseAt(dirFd, name.substr(0, name.size() - suffix.text.size()));
        }
    }
    return false;
}

SqliteHandle OpenForWriting(const std::string& path) {
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    SqliteHandle db(raw);
    if (rc != SQLITE_OK) {
        return nullptr;
    }
    sqlite3_extended_result_codes(raw, 1);
    sqlite3_busy_timeout(raw, kBusyTimeoutMs);
    // The files come from outside: their schema may not run functions with side effects.
    sqlite3_db_config(raw, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(raw, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(raw, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
    return db;
}

bool SettleSideFiles(const std::string& path) {
    if (!AnySideFile(path)) {
        return true;
    }
    if (!IsDatabase(path)) {
        // A database put here would take them for its own.
        return !AnyHeadedSideFile(path);
    }
    {
        // The first read rolls a hot journal back and reads a WAL in; the close of the last
        // connection checkpoints the WAL and removes it with its index.
        SqliteHandle db = OpenForWriting(path);
        if (!db) {
            return false;
        }
        sqlite3_stmt* raw = nullptr;
        sqlite3_prepare_v2(db.get(), "SELECT count(*) FROM sqlite_master", -1, &raw, nullptr);
        const Statement read(raw);
        if (!read || sqlite3_step(read.get()) != SQLITE_ROW) {
            return false;
        }
    }
    // What SQLite leaves holds nothing: a journal that was no hot one, an index of no log.
    const std::string journal = path + "-journal";
    bool readable = false;
    const std::string head = Head(AT_FDCWD, journal, 8, readable);
    if (readable && head.find_first_not_of('\0') == std::string::npos) {
        unlink(journal.c_str());
    }
    if (!Exists(path + "-wal") && Exists(path + "-shm")) {
        unlink((path + "-shm").c_str());
    }
    return !AnySideFile(path);
}

bool PrepareMove(const std::string& source, bool sourceIsDatabase, const std::string& destination) {
    if (!sourceIsDatabase) {
        return !SideFileFor(source, destination);
    }
    return SettleSideFiles(source) && SettleSideFiles(destination);
}

namespace {

// Whether SettleSideFiles could fold in what lies beside `path`: nothing there, side files of
// a database that no other program holds, or files beside no database that are no side files.
bool SettleableSideFiles(const std::string& path) {
    if (!AnySideFile(path)) {
        return true;
    }
    if (!IsDatabase(path)) {
        return !AnyHeadedSideFile(path);
    }
    for (const Suffix& suffix : kSuffixes) {
        const std::string side = path + std::string(suffix.text);
        if (Exists(side) && HeldByAnotherProcess(side)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool MoveAllowedBySideFiles(const std::string& source, const std::string& destination) {
    if (!IsDatabase(source)) {
        return !SideFileFor(source, destination);
    }
    return SettleableSideFiles(source) && SettleableSideFiles(destination);
}

bool DeleteAllowedBySideFiles(const std::string& path) {
    if (!AnySideFile(path) || !IsDatabase(path)) {
        return true;
    }
    for (const Suffix& suffix : kSuffixes) {
        const std::string side = path + std::string(suffix.text);
        if (Exists(side) && IsSideFileNamed(AT_FDCWD, side, suffix) && HeldByAnotherProcess(side)) {
            return false;
        }
    }
    return true;
}

bool DeleteSideFiles(const std::string& path) {
    if (!AnySideFile(path) || !IsDatabase(path)) {
        return true;
    }
    std::array<std::string, kSuffixes.size()> doomed;
    for (std::size_t i = 0; i < kSuffixes.size(); ++i) {
        const std::string side = path + std::string(kSuffixes[i].text);
        if (Exists(side) && IsSideFileNamed(AT_FDCWD, side, kSuffixes[i])) {
            if (HeldByAnotherProcess(side)) {
                return false;
            }
            doomed[i] = side;
        }
    }
    for (const std::string& side : doomed) {
        if (!side.empty() && unlink(side.c_str()) != 0 && errno != ENOENT) {
            return false;
        }
    }
    return true;
}

}  // namespace p2::posix
