// FIFOs, folders and oversized files where the launcher expects ordinary files: it neither
// blocks on them nor takes them for what they stand in for.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "HostileSupport.h"

namespace p2::hostile {
namespace {

class HostileFileKind : public ::testing::Test {
  protected:
    void SetUp() override { Sandbox::MakeDatabase(sb.Program() + "/main.mdb", "1"); }

    void ExpectRestricted(const RunResult& r) {
        ExpectCleanExit(r);
        EXPECT_EQ(r.err, Box("exclamation", RestrictedAccountMessage()));
    }

    Sandbox sb;
};

TEST_F(HostileFileKind, RegistryThatIsAFifoOrAFolderHoldsNoKeys) {
    unlink(sb.RegistryFile().c_str());
    ASSERT_EQ(mkfifo(sb.RegistryFile().c_str(), 0644), 0);
    ExpectRestricted(sb.Run({"main.mdb"}));

    unlink(sb.RegistryFile().c_str());
    ASSERT_EQ(mkdir(sb.RegistryFile().c_str(), 0755), 0);
    ExpectRestricted(sb.Run({"main.mdb"}));
    EXPECT_TRUE(sb.AccessArguments(false).empty());
}

TEST_F(HostileFileKind, RegistryBeyondItsSizeLimitHoldsNoKeys) {
    // Valid text, then a hole up to just past 64 MiB: nothing of it is read.
    ASSERT_EQ(truncate(sb.RegistryFile().c_str(), (off_t{64} << 20) + 1), 0);
    ExpectRestricted(sb.Run({"main.mdb"}));
    EXPECT_TRUE(sb.AccessArguments(false).empty());
}

TEST_F(HostileFileKind, FifosInTheUpdateFolderAndAsTargetOrLockAreNotFiles) {
    ASSERT_EQ(mkfifo((sb.System() + "/UPDATE/pipe.mdb").c_str(), 0644), 0);
    ASSERT_EQ(mkfifo((sb.Program() + "/pipe.mdb").c_str(), 0644), 0);
    std::filesystem::create_directory(sb.Program() + "/folder.mdb");

    for (const char* target : {"pipe.mdb", "folder.mdb"}) {
        const RunResult r = sb.Run({target});
        ExpectCleanExit(r);
        EXPECT_EQ(r.err, NotFoundBox()) << target;
    }
    EXPECT_TRUE(sb.AccessArguments(false).empty());
    EXPECT_TRUE(Sandbox::Exists(sb.System() + "/UPDATE/pipe.mdb"));
    EXPECT_FALSE(Sandbox::Exists(sb.System() + "/pipe.mdb"));

    // A FIFO in the lock file's place is no lock file: the launch goes on and leaves it.
    ASSERT_EQ(mkfifo((sb.Program() + "/main.ldb").c_str(), 0644), 0);
    const RunResult r = sb.Run({"main.mdb"});
    ExpectCleanExit(r);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(Sandbox::Exists(sb.Program() + "/main.ldb"));
    EXPECT_EQ(sb.AccessArguments(true).size(), 8u);
}

}  // namespace
}  // namespace p2::hostile
