// The shell's file operations as every implementation must answer: 0 only for a move or
// delete that the files show, a silent replace, nothing done to a file another program holds.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "contracts/ContractSupport.h"
#include "platform/ports/Files.h"
#include "platform/ports/ShellFileOperation.h"

namespace p2::contract {

template <class World>
class ShellFileOperationContract : public ::testing::Test {
  protected:
    static std::string List(const std::string& path) { return path + std::string(2, '\0'); }
    int32_t Move(const std::string& from, const std::string& to) {
        return world.shell().Run(FileOpRequest{kFoMove, List(world.Path(from)),
                                               List(world.Path(to)),
                                               kFofSilent | kFofNoConfirmation});
    }
    int32_t Kill(const std::string& name) {
        return world.shell().Run(
            FileOpRequest{kFoDelete, List(world.Path(name)), {}, kFofSilent | kFofNoConfirmation});
    }
    World world;
};

TYPED_TEST_SUITE_P(ShellFileOperationContract);

TYPED_TEST_P(ShellFileOperationContract, MoveReplacesTheInstalledFileSilently) {
    auto& w = this->world;
    w.Write("app.mdb", "old");
    w.MakeFolder("UPDATE");
    w.Write("UPDATE/app.mdb", "new contents");
    EXPECT_EQ(this->Move("UPDATE/app.mdb", "app.mdb"), 0);
    EXPECT_EQ(w.Read("app.mdb"), "new contents");
    EXPECT_FALSE(w.Exists("UPDATE/app.mdb"));
}

TYPED_TEST_P(ShellFileOperationContract, MoveToANewNameKeepsContentsAndTime) {
    auto& w = this->world;
    w.Write("a.txt", "a");
    w.SetTime("a.txt", 1500000000, 0);
    EXPECT_EQ(this->Move("a.txt", "b.txt"), 0);
    EXPECT_EQ(w.Read("b.txt"), "a");
    EXPECT_FALSE(w.Exists("a.txt"));
    EXPECT_EQ(w.files().ModificationTime(w.Path("b.txt")), 1500000000);
}

TYPED_TEST_P(ShellFileOperationContract, DeleteRemovesForGood) {
    auto& w = this->world;
    w.Write("x.txt", "x");
    EXPECT_EQ(this->Kill("x.txt"), 0);
    EXPECT_FALSE(w.Exists("x.txt"));
    EXPECT_TRUE(w.files().ListFiles(w.Path("")).empty());
}

TYPED_TEST_P(ShellFileOperationContract, MissingSourceFailsAndCreatesNothing) {
    auto& w = this->world;
    EXPECT_NE(this->Kill("missing.txt"), 0);
    EXPECT_NE(this->Kill("no/such"), 0);
    EXPECT_NE(this->Move("missing.txt", "b.txt"), 0);
    EXPECT_FALSE(w.Exists("b.txt"));
    w.Write("installed.txt", "old");
    EXPECT_NE(this->Move("missing.txt", "installed.txt"), 0);
    EXPECT_EQ(w.Read("installed.txt"), "old");
}

TYPED_TEST_P(ShellFileOperationContract, NamesOutsideTheAnsiCodePage) {
    auto& w = this->world;
    w.Write("ペロリン.mdb", "new");
    w.Write("設定.mdb", "old");
    EXPECT_EQ(this->Move("ペロリン.mdb", "設定.mdb"), 0);
    EXPECT_EQ(w.Read("設定.mdb"), "new");
    EXPECT_EQ(this->Kill("設定.mdb"), 0);
    EXPECT_FALSE(w.Exists("設定.mdb"));
}

// Wine answers 0 for a move that a sharing violation refused: the files must show the move.
TYPED_TEST_P(ShellFileOperationContract, HeldFileIsNeitherReplacedNorMovedNorDeleted) {
    auto& w = this->world;
    w.Write("installed.mdb", "old");
    w.Write("incoming.mdb", "new");
    for (const char* held : {"installed.mdb", "incoming.mdb"}) {
        auto holder = w.Hold(held);
        ASSERT_TRUE(holder->ready) << held;
        EXPECT_NE(this->Move("incoming.mdb", "installed.mdb"), 0) << held;
        EXPECT_NE(this->Kill(held), 0) << held;
        EXPECT_EQ(holder->Release(), 0) << held;
    }
    EXPECT_EQ(w.Read("installed.mdb"), "old");
    EXPECT_EQ(w.Read("incoming.mdb"), "new");
    // Once nobody holds them, the same move goes through.
    EXPECT_EQ(this->Move("incoming.mdb", "installed.mdb"), 0);
    EXPECT_EQ(w.Read("installed.mdb"), "new");
    EXPECT_EQ(this->Kill("installed.mdb"), 0);
}

REGISTER_TYPED_TEST_SUITE_P(ShellFileOperationContract, MoveReplacesTheInstalledFileSilently,
                            MoveToANewNameKeepsContentsAndTime, DeleteRemovesForGood,
                            MissingSourceFailsAndCreatesNothing, NamesOutsideTheAnsiCodePage,
                            HeldFileIsNeitherReplacedNorMovedNorDeleted);

}  // namespace p2::contract
