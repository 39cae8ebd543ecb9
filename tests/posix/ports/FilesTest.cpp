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

using files_test::ChildResult;
using files_test::LockHolder;
using files_test::LockKind;
using files_test::RunInChild;
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

// The error number that `call` raises for an unprivileged user: root gives its rights up in
// a forked child first, so that the refusal happens under test runs as root too.
int32_t ErrorAsUnprivileged(const std::string& dir, const std::function<void()>& call) {
    const ChildResult result = RunInChild([&] {
        if (geteuid() == 0 &&
            (chmod(dir.c_str(), 0755) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
            return std::string("no drop");
        }
        return std::to_string(ErrorOf(call));
    });
    return result.value == "no drop" ? -1 : std::stoi(result.value);
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

TEST_F(PosixFilesLookup, FindsRegularFilesAndLinksToThemWhateverTheMask) {
    WriteFile(dir_ / "a.mdb", "x");
    WriteFile(dir_ / ".hidden", "x");
    ASSERT_EQ(symlink((dir_ / "a.mdb").c_str(), (dir_ / "link.mdb").c_str()), 0);
    EXPECT_EQ(files_.Lookup(dir_ / "a.mdb", kAttrNormal), "a.mdb");
    EXPECT_EQ(files_.Lookup(dir_ / "a.mdb", kAttrHidden), "a.mdb");
    EXPECT_EQ(files_.Lookup(dir_ / ".hidden", kAttrNormal), ".hidden");
    EXPECT_EQ(files_.Lookup(dir_ / "link.mdb", kAttrNormal), "link.mdb");
}

TEST_F(PosixFilesLookup, NeverFindsFoldersOrOtherKindsOfFile) {
    ASSERT_EQ(mkdir((dir_ / "folder").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0644), 0);
    ASSERT_EQ(symlink((dir_ / "gone").c_str(), (dir_ / "dangling").c_str()), 0);
    ASSERT_EQ(symlink((dir_ / "folder").c_str(), (dir_ / "folderlink").c_str()), 0);
    EXPECT_EQ(files_.Lookup(dir_ / "folder", kAttrHidden), "");
    EXPECT_EQ(files_.Lookup(dir_ / "fifo", kAttrHidden), "");
    EXPECT_EQ(files_.Lookup(dir_ / "dangling", kAttrHidden), "");
    EXPECT_EQ(files_.Lookup(dir_ / "folderlink", kAttrHidden), "");
    EXPECT_EQ(files_.Lookup(dir_ / "missing", kAttrHidden), "");
    EXPECT_EQ(files_.Lookup("/dev/null", kAttrHidden), "");
    EXPECT_EQ(files_.Lookup("", kAttrNormal), "");
}

TEST_F(PosixFilesLookup, PathEndingInSeparatorOrWildcardsFindNothing) {
    WriteFile(dir_ / "a.mdb", "x");
    EXPECT_EQ(files_.Lookup(dir_ / "a.mdb/", kAttrNormal), "");
    EXPECT_EQ(files_.Lookup(dir_.path() + "/", kAttrNormal), "");
    EXPECT_EQ(files_.Lookup(dir_ / "*.mdb", kAttrNormal), "");
    EXPECT_EQ(files_.Lookup(dir_ / "?.mdb", kAttrNormal), "");
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

TEST_F(PosixFilesListing, ListsRegularFilesAndLinksToThemOnly) {
    WriteFile(dir_ / "b.mdb", "x");
    WriteFile(dir_ / ".hidden", "x");
    WriteFile(dir_ / "with space.txt", "x");
    ASSERT_EQ(mkdir((dir_ / "sub").c_str(), 0755), 0);
    WriteFile(dir_ / "sub/inner", "x");
    ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0644), 0);
    ASSERT_EQ(symlink((dir_ / "b.mdb").c_str(), (dir_ / "link").c_str()), 0);
    ASSERT_EQ(symlink((dir_ / "nowhere").c_str(), (dir_ / "dangling").c_str()), 0);
    ASSERT_EQ(symlink((dir_ / "sub").c_str(), (dir_ / "sublink").c_str()), 0);
    const std::vector<std::string> expected = {".hidden", "b.mdb", "link", "with space.txt"};
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

TEST_F(PosixFilesListing, MissingOrEmptyFolderListsNothing) {
    ASSERT_EQ(mkdir((dir_ / "empty").c_str(), 0755), 0);
    WriteFile(dir_ / "file", "x");
    EXPECT_TRUE(files_.ListFiles(dir_ / "empty").empty());
    EXPECT_TRUE(files_.ListFiles(dir_ / "missing").empty());
    EXPECT_TRUE(files_.ListFiles(dir_ / "file").empty());
    EXPECT_TRUE(files_.ListFiles(dir_ / "missing/deeper").empty());
}

TEST_F(PosixFilesListing, UnreadableFolderRaisesAnError) {
    ASSERT_EQ(mkdir((dir_ / "closed").c_str(), 0000), 0);
    EXPECT_EQ(ErrorAsUnprivileged(dir_.path(), [&] { files_.ListFiles(dir_ / "closed"); }),
              kErrPermissionDenied);
    chmod((dir_ / "closed").c_str(), 0755);
}

TEST(PosixFilesModificationTime, IsTheFilesTimeInWholeSeconds) {
    TempDir dir;
    PosixFiles files;
    WriteFile(dir / "f", "x");
    const timespec times[2] = {{1000, 0}, {1234567890, 999999999}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir / "f").c_str(), times, 0), 0);
    EXPECT_EQ(files.ModificationTime(dir / "f"), 1234567890);
    // Beyond 2038, so that no 32-bit time cuts it.
    const timespec late[2] = {{0, 0}, {4102444800, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir / "f").c_str(), late, 0), 0);
    EXPECT_EQ(files.ModificationTime(dir / "f"), int64_t{4102444800});
}

// A file below a file is a missing path, as Windows answers it.
TEST(PosixFilesModificationTime, MissingFileOrPathRaises53) {
    TempDir dir;
    PosixFiles files;
    WriteFile(dir / "f", "x");
    EXPECT_EQ(ErrorOf([&] { files.ModificationTime(dir / "missing"); }), kErrFileNotFound);
    EXPECT_EQ(ErrorOf([&] { files.ModificationTime(dir / "f/below"); }), kErrFileNotFound);
}

class PosixFilesDelete : public ::testing::Test {
  protected:
    TempDir dir_;
    PosixFiles files_;
    std::string file_ = dir_ / "P2Installation.lnk";
};

TEST_F(PosixFilesDelete, DeletesAnUnlockedFile) {
    WriteFile(file_, "x");
    EXPECT_EQ(ErrorOf([&] { files_.DeleteFile(file_); }), 0);
    EXPECT_FALSE(Exists(file_));
}

TEST_F(PosixFilesDelete, RefusesAFileLockedByAnotherProcess) {
    WriteFile(file_, "x");
    for (LockKind kind : {LockKind::kFlock, LockKind::kOfdWrite, LockKind::kClassicRead}) {
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

TEST_F(PosixFilesDelete, MissingFileRaises53) {
    EXPECT_EQ(ErrorOf([&] { files_.DeleteFile(file_); }), kErrFileNotFound);
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

TEST_F(PosixFilesDelete, FileInAFolderWithoutWriteRightRaises70) {
    WriteFile(file_, "x");
    ASSERT_EQ(chmod(dir_.path().c_str(), 0555), 0);
    EXPECT_EQ(ErrorAsUnprivileged(dir_.path(), [&] { files_.DeleteFile(file_); }),
              kErrPermissionDenied);
    chmod(dir_.path().c_str(), 0755);
    EXPECT_TRUE(Exists(file_));
}

}  // namespace
}  // namespace p2::posix
