// Removing the installer's start-up shortcut from both start-up folders, on fake ports.
#include <gtest/gtest.h>

#include "FakePorts.h"
#include "launcher/DeleteStartupShortcut.h"
#include "platform/ErrorCatalogue.h"

namespace p2 {
namespace {

using fake::FileEntry;
using fake::Fixture;

class StartupShortcut : public ::testing::Test {
  protected:
    Fixture f;
    const std::string allUsers = "C:\\ProgramData\\Startup\\P2Installation.lnk";
    const std::string user = "C:\\Users\\u\\Startup\\P2Installation.lnk";
    std::vector<std::string> Deletions() const {
        std::vector<std::string> d;
        for (const auto& e : f.m.log) {
            if (e.rfind("DeleteFile ", 0) == 0) {
                d.push_back(e.substr(11));
            }
        }
        return d;
    }
};

TEST_F(StartupShortcut, NeitherFolderHoldsItNothingHappens) {
    f.m.Put("C:\\ProgramData\\Startup\\other.lnk");
    DeleteStartupShortcut(f.ports);
    EXPECT_TRUE(Deletions().empty());
    EXPECT_TRUE(f.m.boxes.empty());
    EXPECT_TRUE(f.m.Find("C:\\ProgramData\\Startup\\other.lnk"));
    EXPECT_EQ(f.m.log.back(), "ReleaseShell");
}

TEST_F(StartupShortcut, BothAreDeletedAllUsersFirst) {
    f.m.Put(user);
    f.m.Put(allUsers);
    f.m.Put("C:\\Users\\u\\Startup\\p2installation.lnk.bak");
    DeleteStartupShortcut(f.ports);
    EXPECT_EQ(Deletions(), (std::vector<std::string>{allUsers, user}));
    EXPECT_TRUE(f.m.Find("C:\\Users\\u\\Startup\\p2installation.lnk.bak"));
}

TEST_F(StartupShortcut, OnlyTheUsersCopy) {
    f.m.Put(user);
    DeleteStartupShortcut(f.ports);
    EXPECT_EQ(Deletions(), std::vector<std::string>{user});
}

TEST_F(StartupShortcut, UndeletableAllUsersCopyReportsAndLeavesTheUsersCopy) {
    f.m.Put(allUsers, fake::Held());
    f.m.Put(user);
    DeleteStartupShortcut(f.ports);
    EXPECT_EQ(f.m.BoxTexts(),
              std::vector<std::string>{ErrorBoxText(70, "mMain-DeleteStartupShortcut")});
    EXPECT_TRUE(f.m.Find(user));
    EXPECT_EQ(f.m.log.back(), "ReleaseShell") << "the shell object is released on failure too";
}

TEST_F(StartupShortcut, FoldersHiddenAndSystemFilesOfThatNameStay) {
    f.m.Put(allUsers, fake::Folder());
    f.m.Put(user, fake::Hidden());
    DeleteStartupShortcut(f.ports);
    EXPECT_TRUE(Deletions().empty());
    EXPECT_TRUE(f.m.boxes.empty());
}

TEST_F(StartupShortcut, UnobtainableShellOrFolderShowsOneBox) {
    f.m.failCreateShell = 429;
    DeleteStartupShortcut(f.ports);
    f.m.failCreateShell = 0;
    f.m.failSpecialFolder = 5;
    f.m.Put(allUsers);
    DeleteStartupShortcut(f.ports);
    EXPECT_EQ(f.m.BoxTexts(),
              (std::vector<std::string>{ErrorBoxText(429, "mMain-DeleteStartupShortcut"),
                                        ErrorBoxText(5, "mMain-DeleteStartupShortcut")}));
    EXPECT_TRUE(f.m.Find(allUsers));
}

}  // namespace
}  // namespace p2
