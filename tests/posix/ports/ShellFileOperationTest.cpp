// What only the Linux file operation meets: side files, requests, folders, file systems.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "FilesTestSupport.h"
#include "platform/posix/FileLock_posix.h"
#include "platform/posix/PlanPorts_posix.h"
#include "platform/posix/Ports_posix.h"

namespace p2::posix {
namespace {

using files_test::ChildResult;
using files_test::LockHolder;
using files_test::LockKind;
using files_test::ReadFile;
using files_test::RunInChild;
using files_test::TempDir;
using files_test::WriteFile;

constexpr uint16_t kFlags = kFofSilent | kFofNoConfirmation;

std::string List(const std::string& path) {
    std::string list = path;
    list.push_back('\0');
    list.push_back('\0');
    return list;
}

int32_t Move(const std::string& from, const std::string& to) {
    PosixShellFileOperation shell;
    return shell.Run(FileOpRequest{kFoMove, List(from), List(to), kFlags});
}

int32_t Delete(const std::string& path) {
    PosixShellFileOperation shell;
    return shell.Run(FileOpRequest{kFoDelete, List(path), {}, kFlags});
}

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

void SetTimes(const std::string& path, time_t seconds, long nanoseconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

struct stat StatOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    return info;
}

// Names in `folder` that look like a left-over temporary of a move.
std::vector<std::string> Temporaries(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.find(".p2tmp-") != std::string::npos) {
            found.push_back(name);
        }
    }
    return found;
}

// A WAL database whose last change, `pwd` = `latest`, still lies in its -wal.
void LiveWalDatabase(const std::string& path, const std::string& latest) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((path + ".live").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           ("PRAGMA journal_mode=WAL; CREATE TABLE t (pwd TEXT);"
                            "INSERT INTO t VALUES ('main file'); UPDATE t SET pwd = '" +
                            latest + "';")
                               .c_str(),
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    WriteFile(path, ReadFile(path + ".live"));
    WriteFile(path + "-wal", ReadFile(path + ".live-wal"));
    sqlite3_close(db);
    unlink((path + ".live").c_str());
}

std::string PwdOf(const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    std::string pwd = "<unreadable>";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT pwd FROM t", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        pwd = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return pwd;
}

// A database's side files go with it, and never land beside another database.
TEST(PosixFileOpSideFiles, DatabasesMoveAndGoWhole) {
    TempDir dir;
    const std::string incoming = dir / "in.mdb";
    const std::string installed = dir / "x.mdb";
    // Its own pending changes go into it; those of the copy it replaces are not played over it.
    LiveWalDatabase(incoming, "incoming, in its log");
    LiveWalDatabase(installed, "installed, in its log");
    EXPECT_EQ(Move(incoming, installed), 0);
    EXPECT_FALSE(Exists(installed + "-wal") || Exists(installed + "-shm"));
    EXPECT_EQ(PwdOf(installed), "incoming, in its log");

    // A side file alone may not move beside its database.
    LiveWalDatabase(incoming, "stray");
    ASSERT_EQ(unlink(incoming.c_str()), 0);
    EXPECT_NE(Move(incoming + "-wal", installed + "-wal"), 0);
    EXPECT_TRUE(Exists(incoming + "-wal"));

    // Nor is one deleted while another program keeps it.
    LiveWalDatabase(incoming, "kept");
    sqlite3* reader = nullptr;
    ASSERT_EQ(sqlite3_open(incoming.c_str(), &reader), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(reader, "SELECT * FROM t", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_NE(Delete(incoming), 0);
    EXPECT_TRUE(Exists(incoming) && Exists(incoming + "-wal"));
    sqlite3_close(reader);
}

class PosixFileOpRequest : public ::testing::Test {
  protected:
    void SetUp() override { WriteFile(source_, "new"); }
    int32_t Run(uint32_t func, const std::string& from, const std::string& to) {
        PosixShellFileOperation shell;
        return shell.Run(FileOpRequest{func, from, to, kFlags});
    }
    TempDir dir_;
    std::string source_ = dir_ / "source";
    std::string target_ = dir_ / "target";
};

TEST_F(PosixFileOpRequest, ListsMustHoldExactlyOnePath) {
    EXPECT_NE(Run(kFoMove, source_, List(target_)), 0);         // no terminators
    EXPECT_NE(Run(kFoMove, source_ + '\0', List(target_)), 0);  // one terminator
    EXPECT_NE(Run(kFoMove, List(source_), target_), 0);
    EXPECT_NE(Run(kFoMove, List(source_), std::string(2, '\0')), 0);  // empty path
    EXPECT_NE(Run(kFoMove, List(source_), ""), 0);
    const std::string two = source_ + '\0' + (dir_ / "other") + '\0' + '\0';
    EXPECT_NE(Run(kFoDelete, two, ""), 0);
    EXPECT_NE(Run(kFoDelete, List(source_) + "x", ""), 0);
    EXPECT_TRUE(Exists(source_));
    EXPECT_FALSE(Exists(target_));
}

TEST_F(PosixFileOpRequest, UnknownFunctionChangesNothing) {
    EXPECT_NE(Run(2, List(source_), List(target_)), 0);  // a copy, which is not offered
    EXPECT_NE(Run(0, List(source_), List(target_)), 0);
    EXPECT_NE(Run(4, List(source_), ""), 0);
    EXPECT_TRUE(Exists(source_));
    EXPECT_FALSE(Exists(target_));
}

TEST_F(PosixFileOpRequest, NeverWritesToTheStandardStreams) {
    const ChildResult result = RunInChild([&] {
        PosixShellFileOperation shell;
        const int32_t failed = shell.Run(FileOpRequest{kFoDelete, List(target_), {}, 0});
        const int32_t moved = shell.Run(FileOpRequest{kFoMove, List(source_), List(target_), 0});
        return std::to_string(failed != 0) + std::to_string(moved);
    });
    EXPECT_EQ(result.value, "10");
    EXPECT_EQ(result.stderrBytes, "");
}

class PosixFileOpMove : public ::testing::Test {
  protected:
    TempDir dir_;
    std::string incoming_ = dir_ / "UPDATE.a.mdb";
    std::string installed_ = dir_ / "a.mdb";
};

TEST_F(PosixFileOpMove, OntoAFolderFailsAndChangesNothing) {
    WriteFile(incoming_, "x");
    ASSERT_EQ(mkdir(installed_.c_str(), 0755), 0);
    EXPECT_NE(Move(incoming_, installed_), 0);
    EXPECT_TRUE(Exists(incoming_));
    EXPECT_TRUE(std::filesystem::is_empty(installed_));
    // Nor through a link to a folder.
    const std::string link = dir_ / "link";
    ASSERT_EQ(symlink(installed_.c_str(), link.c_str()), 0);
    EXPECT_NE(Move(incoming_, link), 0);
    EXPECT_TRUE(Exists(incoming_));
}

TEST_F(PosixFileOpMove, FolderAsSourceFails) {
    WriteFile(installed_, "old");
    ASSERT_EQ(mkdir(incoming_.c_str(), 0755), 0);
    EXPECT_NE(Move(incoming_, installed_), 0);
    EXPECT_EQ(ReadFile(installed_), "old");
}

// Every kind of lock holds the file (the contract holds it as the Access stand-in does).
TEST_F(PosixFileOpMove, RefusesWhileSourceOrDestinationIsLocked) {
    WriteFile(incoming_, "new");
    WriteFile(installed_, "old");
    {
        LockHolder holder(installed_, LockKind::kClassicRead);  // the database is open
        ASSERT_TRUE(holder.locked());
        EXPECT_NE(Move(incoming_, installed_), 0);
    }
    {
        LockHolder holder(incoming_, LockKind::kFlock);
        ASSERT_TRUE(holder.locked());
        EXPECT_NE(Move(incoming_, installed_), 0);
    }
    EXPECT_EQ(ReadFile(installed_), "old");
    EXPECT_EQ(ReadFile(incoming_), "new");
    EXPECT_EQ(Move(incoming_, installed_), 0);
}

// Another process's writer holds a file as a lock does, its reader does not: by lease, and
// through /proc as where no lease can be had; the plan's check answers the same.
TEST_F(PosixFileOpMove, AWriterHoldsEitherFileAReaderDoesNot) {
    WriteFile(incoming_, "new");
    WriteFile(installed_, "old");
    for (const bool writing : {true, false}) {
        for (const std::string* held : {&incoming_, &installed_}) {
            SCOPED_TRACE(*held + (writing ? " written" : " read"));
            LockHolder holder(*held, writing ? LockKind::kWriting : LockKind::kReading);
            ASSERT_TRUE(holder.locked());
            EXPECT_EQ(HeldByAnotherProcess(*held), writing);
            EXPECT_EQ(OpenForWritingByAnotherProcess(*held), writing);
            const std::vector<FileId> writers = FilesOpenForWritingElsewhere();
            const struct stat info = StatOf(*held);
            EXPECT_EQ(std::binary_search(writers.begin(), writers.end(),
                                         FileId{info.st_dev, info.st_ino}),
                      writing);
            PosixFileOpCheck check;
            EXPECT_EQ(check.Answer(
                          FileOpRequest{kFoMove, List(incoming_), List(installed_), kFlags}) != 0,
                      writing);
            EXPECT_EQ(check.OpenForWriting(*held), writing);
        }
    }
    EXPECT_EQ(ReadFile(installed_), "old");
    EXPECT_EQ(Move(incoming_, installed_), 0);
}

TEST_F(PosixFileOpMove, MovesALinkItself) {
    const std::string target = dir_ / "target";
    WriteFile(target, "t");
    ASSERT_EQ(symlink(target.c_str(), incoming_.c_str()), 0);
    EXPECT_EQ(Move(incoming_, installed_), 0);
    EXPECT_EQ(std::filesystem::read_symlink(installed_).string(), target);
    EXPECT_TRUE(Exists(target));
}

class PosixFileOpDelete : public ::testing::Test {
  protected:
    TempDir dir_;
    std::string file_ = dir_ / "incoming";
};

TEST_F(PosixFileOpDelete, FolderIsNotDeleted) {
    ASSERT_EQ(mkdir(file_.c_str(), 0755), 0);
    EXPECT_NE(Delete(file_), 0);
    EXPECT_TRUE(Exists(file_));
}

TEST_F(PosixFileOpDelete, DanglingLinkIsDeleted) {
    ASSERT_EQ(symlink((dir_ / "gone").c_str(), file_.c_str()), 0);
    EXPECT_EQ(Delete(file_), 0);
    EXPECT_FALSE(Exists(file_));
}

// Moves between two file systems: a tmpfs mounted inside the temporary folder. Needs root.
class PosixFileOpMoveAcross : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(mkdir(mount_.c_str(), 0755), 0);
        if (geteuid() != 0 || mount("tmpfs", mount_.c_str(), "tmpfs", 0, "size=256k") != 0) {
            GTEST_SKIP() << "needs root and a tmpfs mount";
        }
        mounted_ = true;
    }
    ~PosixFileOpMoveAcross() override {
        if (mounted_) {
            umount2(mount_.c_str(), MNT_DETACH);
        }
    }

    TempDir dir_;
    std::string mount_ = dir_ / "mnt";
    bool mounted_ = false;
};

TEST_F(PosixFileOpMoveAcross, CopiesBytesModeAndTimeThenRemovesTheSource) {
    const std::string source = dir_ / "incoming.mdb";
    const std::string destination = mount_ + "/a.mdb";
    std::string bytes(100000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7 % 251);
    }
    WriteFile(source, bytes);
    ASSERT_EQ(chmod(source.c_str(), 0640), 0);
    SetTimes(source, 1600000000, 123456789);
    WriteFile(destination, "old installed copy");

    EXPECT_EQ(Move(source, destination), 0);
    EXPECT_EQ(ReadFile(destination), bytes);
    const struct stat moved = StatOf(destination);
    EXPECT_EQ(moved.st_mode & 07777, 0640u);
    EXPECT_EQ(moved.st_mtim.tv_sec, 1600000000);
    EXPECT_EQ(moved.st_mtim.tv_nsec, 123456789);
    EXPECT_FALSE(Exists(source));
    EXPECT_TRUE(Temporaries(mount_).empty());
}

// Any name that fits the file system moves, and what a killed move left is cleared by the
// next one into that folder, unless a running move is writing it.
TEST_F(PosixFileOpMoveAcross, LongNamesMoveAndLeftOverTemporariesAreCleared) {
    std::string longName;
    for (int i = 0; i < 83; ++i) {
        longName += "漢";
    }
    longName += ".txt";  // 253 bytes
    const std::string stale = mount_ + "/." + longName.substr(0, 60) + ".p2tmp-a1B2c3";
    const std::string live = mount_ + "/.other.p2tmp-Z9y8X7";
    WriteFile(stale, "killed half way");
    WriteFile(live, "being written");
    LockHolder holder(live, LockKind::kFlock);
    ASSERT_TRUE(holder.locked());
    WriteFile(dir_ / longName, "new");

    EXPECT_EQ(Move(dir_ / longName, mount_ + "/" + longName), 0);
    EXPECT_EQ(ReadFile(mount_ + "/" + longName), "new");
    EXPECT_EQ(Temporaries(mount_), std::vector<std::string>{".other.p2tmp-Z9y8X7"});
}

TEST_F(PosixFileOpMoveAcross, FullDestinationLeavesBothFilesAsTheyWere) {
    const std::string source = dir_ / "big";
    const std::string destination = mount_ + "/big";
    WriteFile(source, std::string(400000, 'n'));  // more than the tmpfs holds
    WriteFile(destination, "old");

    EXPECT_NE(Move(source, destination), 0);
    EXPECT_EQ(ReadFile(destination), "old");
    EXPECT_EQ(ReadFile(source).size(), 400000u);
    EXPECT_TRUE(Temporaries(mount_).empty());
}

TEST_F(PosixFileOpMoveAcross, SourceThatCannotBeRemovedIsNotCopied) {
    const std::string source = mount_ + "/incoming";
    const std::string destination = dir_ / "installed";
    WriteFile(source, "new");
    WriteFile(destination, "old");
    ASSERT_EQ(mount(nullptr, mount_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);

    EXPECT_NE(Move(source, destination), 0);
    EXPECT_EQ(ReadFile(destination), "old");
    EXPECT_EQ(ReadFile(source), "new");
    EXPECT_TRUE(Temporaries(dir_.path()).empty());
}

TEST_F(PosixFileOpMoveAcross, LockedDestinationIsNotReplaced) {
    const std::string source = dir_ / "incoming";
    const std::string destination = mount_ + "/installed";
    WriteFile(source, "new");
    WriteFile(destination, "old");
    LockHolder holder(destination, LockKind::kFlock);
    ASSERT_TRUE(holder.locked());
    EXPECT_NE(Move(source, destination), 0);
    EXPECT_EQ(ReadFile(destination), "old");
    EXPECT_TRUE(Exists(source));
}

}  // namespace
}  // namespace p2::posix
