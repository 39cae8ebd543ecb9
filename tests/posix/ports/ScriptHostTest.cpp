// The start-up folders as the Linux script host names them, elevated or not.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "FilesTestSupport.h"
#include "platform/Error.h"
#include "platform/posix/Ports_posix.h"

namespace p2::posix {
namespace {

using files_test::ChildResult;
using files_test::RunInChild;

// The two folders, "|"-separated, under an environment that `prepare` sets up in a forked
// child; "error N" when asking raised AppError N.
std::string FoldersWith(const std::function<void()>& prepare) {
    const ChildResult result = RunInChild([&] {
        for (const char* name : {"XDG_CONFIG_DIRS", "XDG_CONFIG_HOME", "HOME", "PKEXEC_UID"}) {
            unsetenv(name);
        }
        prepare();
        try {
            PosixScriptHost host;
            auto shell = host.CreateShell();
            return shell->SpecialFolders("AllUsersStartup") + "|" +
                   shell->SpecialFolders("Startup");
        } catch (const AppError& e) {
            return "error " + std::to_string(e.number());
        }
    });
    EXPECT_EQ(result.status, 0);
    return result.value;
}

TEST(PosixScriptHostFolders, FollowTheDesktopConfigurationFolders) {
    EXPECT_EQ(FoldersWith([] {
                  setenv("XDG_CONFIG_DIRS", "/opt/sys/xdg:/etc/xdg", 1);
                  setenv("XDG_CONFIG_HOME", "/home/u/conf", 1);
                  setenv("HOME", "/home/u", 1);
              }),
              "/opt/sys/xdg/autostart|/home/u/conf/autostart");
}

TEST(PosixScriptHostFolders, FallBackWhenTheVariablesAreUnsetOrEmpty) {
    EXPECT_EQ(FoldersWith([] { setenv("HOME", "/home/u", 1); }),
              "/etc/xdg/autostart|/home/u/.config/autostart");
    EXPECT_EQ(FoldersWith([] {
                  setenv("XDG_CONFIG_DIRS", "", 1);
                  setenv("XDG_CONFIG_HOME", "", 1);
                  setenv("HOME", "/home/v", 1);
              }),
              "/etc/xdg/autostart|/home/v/.config/autostart");
    const std::string ownHome = getpwuid(getuid())->pw_dir;
    EXPECT_EQ(FoldersWith([] {}), "/etc/xdg/autostart|" + ownHome + "/.config/autostart");
}

TEST(PosixScriptHostFolders, ElevatedProgramUsesTheAskingUsersFolder) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "only root runs elevated";
    }
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const std::string uid = std::to_string(nobody->pw_uid);
    const std::string home = nobody->pw_dir;
    EXPECT_EQ(FoldersWith([&] {
                  setenv("PKEXEC_UID", uid.c_str(), 1);
                  setenv("XDG_CONFIG_HOME", "/root/.config", 1);  // left over from root
                  setenv("HOME", "/root", 1);
              }),
              "/etc/xdg/autostart|" + home + "/.config/autostart");
}

TEST(PosixScriptHostFolders, UnknownFolderNameRaises5) {
    PosixScriptHost host;
    auto shell = host.CreateShell();
    for (const char* name : {"Desktop", "startup", "", "AllUsersStartup "}) {
        try {
            shell->SpecialFolders(name);
            ADD_FAILURE() << "no error for \"" << name << "\"";
        } catch (const AppError& e) {
            EXPECT_EQ(e.number(), kErrInvalidArgument) << name;
        }
    }
}

}  // namespace
}  // namespace p2::posix
