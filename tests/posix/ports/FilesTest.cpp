// What only the Linux file port meets: dot files, links, FIFOs, sockets and other locks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "FilesTestSupport.h"
#include "platform/Error.h"
#include "platform/posix/Ports_posix.h"

namespace p2::posix {
namespace {

using files_test::LockHolder;
using files_test::LockKind;
using files_test::TempDir;
using files_test::WriteFile;

int32_t ErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const AppError& e) {
        return e.number();
    }
    return 0;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

class PosixFilesLookup : public ::testing::Test {
  protected:
    TempDir dir_;
    PosixFiles files_;
};

// A name with a leading dot is no hidden file here.
TEST_F(PosixFilesLookup, FindsDotFilesAndLinksToRegularFilesWhateverTheMask) {
    WriteFile(dir_ / "a.mdb", "x");
    WriteFile(dir_ / ".hidden", "x");
    ASSERT_EQ(symlink((dir_ / "a.mdb").c_str(), (dir_ / "link.mdb").c_str()), 0);
    EXPECT_EQ(files_.Lookup(dir_ / ".hidden", kAttrNormal), ".hidden");
    EXPECT_EQ(files_.Lookup(dir_ / "link.mdb", kAttrNormal), "link.mdb");
}

TEST_F(PosixFilesLookup, NeverFindsOtherKindsOfFileOrLinksToThem) {
    ASSERT_EQ(mkdir((dir_ / "folder").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0644), 0);
    ASSERT_EQ(symlink((dir_ / "gone").c_str(), (dir_ / "dangling").c_str()), 0);
    ASSERT_EQ(symlink((dir_ / "folder").c_str(), (dir_ / "folderlink").c_str()), 0);
    EXPECT_EQ(files_.Lookup(dir_ / "fifo", kAttrHidden), "");
    EXPECT_EQ(files_.Lookup(dir_ / "dangling", kAttrHidden), "");
    EXPECT_EQ(files_.Lookup(dir_ / "folderlink", kAttrHidden), "");
    EXPECT_EQ(files_.Lookup("/dev/null", kAttrHidden), "");
}

TEST_F(PosixFilesLookup, PathEndingInSeparatorFindsNothingAWildcardIsAName) {
    WriteFile(dir_ / "a.mdb", "x");
    EXPECT_EQ(files_.Lookup(dir_ / "a.mdb/", kAttrNormal), "");
    EXPECT_EQ(files_.Lookup(dir_.path() + "/", kAttrNormal), "");
    // A name with a wildcard character is an ordinary name here.
    WriteFile(dir_ / "*.mdb", "x");
    EXPECT_EQ(files_.Lookup(dir_ / "*.mdb", kAttrNormal), "*.mdb");
}

class PosixFilesListing : public ::testing::Test {
  protected:
    std::vector<std::string> Sorted(std::vector<std::string> names) {
        std::sort(names.begin(), names.end());
        return names;
    }
    TempDir dir_;
    PosixFiles files_;
};

TEST_F(PosixFilesListing, ListsDotFilesAndLinksToRegularFilesNoOtherKinds) {
    WriteFile(dir_ / "b.mdb", "x");
    WriteFile(dir_ / ".hidden", "x");
    ASSERT_EQ(mkdir((dir_ / "sub").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0644), 0);
    ASSERT_EQ(symlink((dir_ / "b.mdb").c_str(), (dir_ / "link").c_str()), 0);
    ASSERT_EQ(symlink((dir_ / "nowhere").c_str(), (dir_ / "dangling").c_str()), 0);
    ASSERT_EQ(symlink((dir_ / "sub").c_str(), (dir_ / "sublink").c_str()), 0);
    const std::vector<std::string> expected = {".hidden", "b.mdb", "link"};
    EXPECT_EQ(Sorted(files_.ListFiles(dir_.path())), expected);
}

TEST_F(PosixFilesListing, SkipsSocketsAsWell) {
    WriteFile(dir_ / "file", "x");
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = dir_ / "sock";
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(files_.ListFiles(dir_.path()), std::vector<std::string>{"file"});
    close(fd);
}

TEST_F(PosixFilesListing, AFileListsNothing) {
    WriteFile(dir_ / "file", "x");
    EXPECT_TRUE(files_.ListFiles(dir_ / "file").empty());
}

TEST(PosixFilesModificationTime, LiesBeyond2038) {
    TempDir dir;
    PosixFiles files;
    WriteFile(dir / "f", "x");
    // So that no 32-bit time cuts it.
    const timespec late[2] = {{0, 0}, {4102444800, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir / "f").c_str(), late, 0), 0);
    EXPECT_EQ(files.ModificationTime(dir / "f"), int64_t{4102444800});
}

class PosixFilesDelete : public ::testing::Test {
  protected:
    TempDir dir_;
    PosixFiles files_;
    std::string file_ = dir_ / "P2Installation.lnk";
};

// Every kind of lock holds the file (the contract holds it as the Access stand-in does).
TEST_F(PosixFilesDelete, RefusesAFileLockedByAnotherProcess) {
    WriteFile(file_, "x");
    for (LockKind kind : {LockKind::kFlock, LockKind::kClassicRead}) {
        LockHolder holder(file_, kind);
        ASSERT_TRUE(holder.locked());
        EXPECT_EQ(ErrorOf([&] { files_.DeleteFile(file_); }), kErrPermissionDenied);
        EXPECT_TRUE(Exists(file_));
    }
    // Once the holder is gone the file goes as well.
    EXPECT_EQ(ErrorOf([&] { files_.DeleteFile(file_); }), 0);
    EXPECT_FALSE(Exists(file_));
}

TEST_F(PosixFilesDelete, OpenWithoutLockDoesNotStopDeletion) {
    WriteFile(file_, "x");
    const int fd = open(file_.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ErrorOf([&] { files_.DeleteFile(file_); }), 0);
    close(fd);
}

TEST_F(PosixFilesDelete, FolderIsNeitherDeletedNorEntered) {
    ASSERT_EQ(mkdir(file_.c_str(), 0755), 0);
    WriteFile(file_ + "/inside", "x");
    EXPECT_EQ(ErrorOf([&] { files_.DeleteFile(file_); }), kErrPathFileAccess);
    EXPECT_TRUE(Exists(file_ + "/inside"));
}

TEST_F(PosixFilesDelete, LinkIsRemovedNotItsTarget) {
    WriteFile(dir_ / "target", "x");
    ASSERT_EQ(symlink((dir_ / "target").c_str(), file_.c_str()), 0);
    EXPECT_EQ(ErrorOf([&] { files_.DeleteFile(file_); }), 0);
    EXPECT_FALSE(Exists(file_));
    EXPECT_TRUE(Exists(dir_ / "target"));
}

TEST_F(PosixFilesDelete, FifoIsRemovedWithoutBeingOpened) {
    // Opening a FIFO for reading would wait for a writer forever.
    ASSERT_EQ(mkfifo(file_.c_str(), 0644), 0);
    EXPECT_EQ(ErrorOf([&] { files_.DeleteFile(file_); }), 0);
    EXPECT_FALSE(Exists(file_));
}

}  // namespace
}  // namespace p2::posix
