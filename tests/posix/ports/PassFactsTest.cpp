// The file and file-operation ports sharing what one update pass saw: answers that are never
// stale, and the in-use rule asked anew at every move.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <tuple>

#include "FilesTestSupport.h"
#include "platform/posix/PassFacts_posix.h"
#include "platform/posix/Ports_posix.h"

namespace p2::posix {
namespace {

using files_test::LockHolder;
using files_test::LockKind;
using files_test::ReadFile;
using files_test::TempDir;
using files_test::WriteFile;

constexpr uint16_t kFlags = kFofSilent | kFofNoConfirmation;
constexpr int32_t kNotFound = 2;
constexpr int32_t kInUse = 32;

std::string List(const std::string& path) {
    return path + std::string(2, '\0');
}

void SetTime(const std::string& path, time_t seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// "yes" when another process can open the file without waiting for a lease to be given up.
std::string OpensAtOnce(const std::string& path) {
    return files_test::RunInChild([&] {
               const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
               return std::string(fd >= 0 ? "yes" : std::string("no ") + strerror(errno));
           })
        .value;
}

class PassFactsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(mkdir(folder_.c_str(), 0755), 0);
        ASSERT_EQ(mkdir(update_.c_str(), 0755), 0);
        Deliver("a");
        Deliver("b");
        files_.ListFiles(update_);
    }
    void Deliver(const std::string& name) {
        WriteFile(Installed(name), "old " + name);
        SetTime(Installed(name), 1000);
        WriteFile(Incoming(name), "new " + name);
        SetTime(Incoming(name), 2000);
    }
    // The questions the update pass asks before it moves a plain file.
    void LookAt(const std::string& name) {
        EXPECT_EQ(files_.Lookup(Incoming(name), kAttrHidden), name);
        EXPECT_EQ(files_.ModificationTime(Installed(name)), 1000);
        EXPECT_EQ(files_.ModificationTime(Incoming(name)), 2000);
    }
    int32_t Move(const std::string& name) {
        return shell_.Run(
            FileOpRequest{kFoMove, List(Incoming(name)), List(Installed(name)), kFlags});
    }
    int32_t Kill(const std::string& name) {
        return shell_.Run(FileOpRequest{kFoDelete, List(Incoming(name)), {}, kFlags});
    }
    std::string Installed(const std::string& name) const { return folder_ + "/" + name; }
    std::string Incoming(const std::string& name) const { return update_ + "/" + name; }

    TempDir dir_;
    std::string folder_ = dir_ / "SYSTEM";
    std::string update_ = folder_ + "/UPDATE";
    std::shared_ptr<PassFacts> facts_ = std::make_shared<PassFacts>();
    PosixFiles files_{facts_};
    PosixShellFileOperation shell_{facts_};
};

class PassFactsLocks : public PassFactsTest,
                       public ::testing::WithParamInterface<std::tuple<LockKind, bool>> {};

TEST_P(PassFactsLocks, ALockTakenAfterTheLooksStillStopsTheMoveAndNoLeaseIsLeft) {
    const auto [kind, onInstalled] = GetParam();
    LookAt("a");
    {
        LockHolder holder(onInstalled ? Installed("a") : Incoming("a"), kind);
        ASSERT_TRUE(holder.locked());
        EXPECT_EQ(Move("a"), kInUse);
        EXPECT_EQ(ReadFile(Installed("a")), "old a");
        EXPECT_EQ(OpensAtOnce(Incoming("a")), "yes");
        EXPECT_EQ(OpensAtOnce(Installed("a")), "yes");
    }
    EXPECT_EQ(Move("a"), 0);
    EXPECT_EQ(ReadFile(Installed("a")), "new a");
}

INSTANTIATE_TEST_SUITE_P(EveryKindOnEitherCopy, PassFactsLocks,
                         ::testing::Combine(::testing::Values(LockKind::kFlock, LockKind::kOfdWrite,
                                                              LockKind::kClassicRead,
                                                              LockKind::kWriting),
                                            ::testing::Bool()));

TEST_F(PassFactsTest, FilesOpenWithoutALockAreMovedAndDeleted) {
    LookAt("a");
    const int reader = open(Installed("a").c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(Move("a"), 0);
    close(reader);
    const int other = open(Incoming("b").c_str(), O_RDONLY);
    ASSERT_GE(other, 0);
    EXPECT_EQ(Kill("b"), 0);
    close(other);
}

TEST_F(PassFactsTest, WhatTheMoveChangedIsLookedAtAnew) {
    LookAt("a");
    ASSERT_EQ(Move("a"), 0);
    EXPECT_EQ(files_.Lookup(Incoming("a"), kAttrHidden), "");
    EXPECT_EQ(files_.ModificationTime(Installed("a")), 2000);
    EXPECT_EQ(Kill("a"), kNotFound);
    EXPECT_EQ(ReadFile(Installed("a")), "new a");
}

TEST_F(PassFactsTest, TwoNamesOfOneFileAreNotInUseAndTheDeliveryGoes) {
    ASSERT_EQ(unlink(Installed("a").c_str()), 0);
    ASSERT_EQ(link(Incoming("a").c_str(), Installed("a").c_str()), 0);
    EXPECT_EQ(files_.Lookup(Incoming("a"), kAttrHidden), "a");
    EXPECT_EQ(Move("a"), 0);
    EXPECT_EQ(Kill("a"), 0);
    EXPECT_EQ(ReadFile(Installed("a")), "new a");
    EXPECT_EQ(files_.Lookup(Incoming("a"), kAttrHidden), "");
}

TEST_F(PassFactsTest, OnlyTheNameBeingHandledIsRemembered) {
    EXPECT_EQ(files_.ModificationTime(Installed("a")), 1000);
    SetTime(Installed("a"), 1500);
    EXPECT_EQ(files_.ModificationTime(Installed("b")), 1000);  // the pass turns to "b"
    EXPECT_EQ(files_.ModificationTime(Installed("a")), 1500);
    // A new listing begins a new pass.
    SetTime(Installed("a"), 1600);
    files_.ListFiles(update_);
    EXPECT_EQ(files_.ModificationTime(Installed("a")), 1600);
    // Paths outside the pass's two folders are never remembered.
    WriteFile(dir_ / "elsewhere", "x");
    SetTime(dir_ / "elsewhere", 10);
    EXPECT_EQ(files_.ModificationTime(dir_ / "elsewhere"), 10);
    SetTime(dir_ / "elsewhere", 20);
    EXPECT_EQ(files_.ModificationTime(dir_ / "elsewhere"), 20);
}

}  // namespace
}  // namespace p2::posix
