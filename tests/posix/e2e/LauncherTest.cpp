// The built launcher in a sandbox installation, as a user starts it.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "Sandbox.h"
#include "launch/AppExecute.h"
#include "launcher/Main.h"
#include "launcher/Workgroup.h"
#include "platform/ErrorCatalogue.h"

namespace p2::e2e {
namespace {

constexpr uid_t kNobody = 65534;

// What a box looks like on standard error without a display.
std::string Box(const std::string& kind, std::string text) {
    std::string lf;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\r\n") == 0) {
            lf += '\n';
            ++i;
        } else {
            lf += text[i];
        }
    }
    return "ペロリンⅡ [" + kind + "]\n" + lf + "\n";
}

std::string UpdateFailure(const std::string& name) {
    return Box("exclamation",
               "\"" + name + "\" ファイルのアップデート処理に失敗しました。処理を終了します。");
}

// Holds an open-file lock on `path` the way a running Access holds its files.
class HeldFile {
  public:
    explicit HeldFile(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_CREAT, 0644)) {
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        EXPECT_EQ(fcntl(fd_, F_OFD_SETLK, &lock), 0);
    }
    ~HeldFile() { close(fd_); }

  private:
    int fd_;
};

class Launcher : public ::testing::Test {
  protected:
    std::vector<std::string> ExpectedAccessArguments(const std::string& target) const {
        return {"/Runtime", sb.Program() + "/" + target, "/Wrkgrp", sb.Program() + "/Pelorin2.wgf",
                "/User",    GetWorkgroupUser(),          "/Pwd",    GetWorkgroupPassword()};
    }
    Sandbox sb;
};

TEST_F(Launcher, StartsAccessWithRuntimeWorkgroupAndAccount) {
    Sandbox::MakeDatabase(sb.Program() + "/main.mdb", "AB001");
    const RunResult r = sb.Run({"main.mdb"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(sb.AccessArguments(true), ExpectedAccessArguments("main.mdb"));
}

TEST_F(Launcher, BlanksInNamesStayOneArgument) {
    Sandbox::MakeDatabase(sb.Program() + "/my data.mdb", "1");
    const RunResult r = sb.Run({"/somewhere/else/my data.mdb"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(sb.AccessArguments(true), ExpectedAccessArguments("my data.mdb"));
}

TEST_F(Launcher, MissingTargetShowsNotFoundOnStandardError) {
    const RunResult r = sb.Run({"missing.mdb"});
    EXPECT_EQ(r.err, Box("exclamation", kNotFoundMessage));
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(sb.AccessArguments(false).empty());
}

TEST_F(Launcher, NamesOutsideTheProgramFolderAreNotFound) {
    Sandbox::WriteFile(sb.Root() + "/outside.mdb", "x");
    for (const char* arg : {"../outside.mdb", "..", "/", "Prog/../../outside.mdb"}) {
        const RunResult r = sb.Run({arg});
        EXPECT_EQ(r.err, Box("exclamation", kNotFoundMessage)) << arg;
    }
    EXPECT_TRUE(sb.AccessArguments(false).empty());
}

TEST_F(Launcher, UnclosedQuoteShowsTheErrorBox) {
    // The argument text only begins with a quote when the first argument does.
    const RunResult r = sb.Run({"\"main.mdb"});
    EXPECT_EQ(r.err, Box("stop", ErrorBoxText(5, "mMain-Main")));
}

TEST_F(Launcher, UserWhoMayNotWriteTheRegistryIsRefused) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to run the launcher as another user";
    }
    Sandbox::WriteFile(sb.AllUsersStartup() + "/P2Installation.lnk", "");
    Sandbox::WriteFile(sb.UserStartup() + "/P2Installation.lnk", "");
    Sandbox::WriteFile(sb.System() + "/UPDATE/a.txt", "new");
    Sandbox::WriteFile(sb.Lan() + "/UPDATE/b.txt", "new");
    Sandbox::MakeDatabase(sb.Program() + "/main.mdb", "1");
    const RunResult r = sb.Run({"main.mdb"}, RunOptions{.asUser = kNobody});
    EXPECT_EQ(r.err, Box("exclamation", RestrictedAccountMessage()));
    EXPECT_TRUE(Sandbox::Exists(sb.AllUsersStartup() + "/P2Installation.lnk"));
    EXPECT_TRUE(Sandbox::Exists(sb.UserStartup() + "/P2Installation.lnk"));
    EXPECT_TRUE(Sandbox::Exists(sb.System() + "/UPDATE/a.txt"));
    EXPECT_TRUE(Sandbox::Exists(sb.Lan() + "/UPDATE/b.txt"));
    EXPECT_TRUE(sb.AccessArguments(false).empty());
}

TEST_F(Launcher, MissingRegistryFileRefusesToo) {
    unlink(sb.RegistryFile().c_str());
    const RunResult r = sb.Run({"main.mdb"});
    EXPECT_EQ(r.err, Box("exclamation", RestrictedAccountMessage()));
}

TEST_F(Launcher, SecondInstanceEndsSilentlyWhileTheFirstRuns) {
    // The first instance waits in its message box: a dialog program that returns only
    // when the test lets it.
    const std::string bin = sb.Root() + "/bin";
    mkdir(bin.c_str(), 0755);
    const std::string release = sb.Root() + "/release";
    Sandbox::WriteFile(bin + "/zenity", "#!/bin/sh\ntouch '" + sb.Root() +
                                            "/showing'\nwhile [ ! -e '" + release +
                                            "' ]; do sleep 0.05; done\n");
    chmod((bin + "/zenity").c_str(), 0755);
    const RunOptions withDialog{.extraEnv = {{"DISPLAY", ":99"}, {"PATH", bin + ":/usr/bin:/bin"}}};
    const pid_t first = sb.Start({"missing.mdb"}, withDialog);
    for (int i = 0; i < 1000 && !Sandbox::Exists(sb.Root() + "/showing"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(Sandbox::Exists(sb.Root() + "/showing"));

    const RunResult second = sb.Run({"missing.mdb"});
    EXPECT_EQ(second.err, "");
    EXPECT_EQ(second.exitCode, 0);

    Sandbox::WriteFile(release, "");
    const RunResult firstResult = sb.Wait(first);
    EXPECT_EQ(firstResult.err, "") << "the box went to the dialog, not to standard error";
    const RunResult third = sb.Run({"missing.mdb"});
    EXPECT_EQ(third.err, Box("exclamation", kNotFoundMessage)) << "the lock went with the first";
}

TEST_F(Launcher, StaleLockFileIsRemovedAndAccessStarts) {
    Sandbox::MakeDatabase(sb.Program() + "/main.mdb", "1");
    Sandbox::WriteFile(sb.Program() + "/main.ldb", "stale");
    const RunResult r = sb.Run({"main.mdb"});
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(Sandbox::Exists(sb.Program() + "/main.ldb"));
    EXPECT_EQ(sb.AccessArguments(true), ExpectedAccessArguments("main.mdb"));
}

TEST_F(Launcher, HeldLockFileEndsSilentlyWithNothingStarted) {
    Sandbox::MakeDatabase(sb.Program() + "/main.mdb", "1");
    HeldFile held(sb.Program() + "/main.ldb");
    const RunResult r = sb.Run({"main.mdb"});
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(Sandbox::Exists(sb.Program() + "/main.ldb"));
    EXPECT_TRUE(sb.AccessArguments(false).empty());
}

TEST_F(Launcher, NoAccessRegisteredSaysSo) {
    Sandbox::MakeDatabase(sb.Program() + "/main.mdb", "1");
    sb.WriteRegistryText("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SYSTEM]\n");
    const RunResult r = sb.Run({"main.mdb"});
    EXPECT_EQ(r.err, Box("stop", kNoAccessMessage));
}

TEST_F(Launcher, RegisteredAccessThatDoesNotExistIsReported) {
    Sandbox::MakeDatabase(sb.Program() + "/main.mdb", "1");
    sb.WriteRegistry("\"" + sb.Root() + "/Gone/MSACCESS.EXE\" \"%1\"");
    const RunResult r = sb.Run({"main.mdb"});
    EXPECT_EQ(r.err, Box("stop", ErrorBoxText(53, "mMain-AppExecute")));
}

TEST_F(Launcher, StartupShortcutsAreRemovedFromBothFolders) {
    Sandbox::MakeDatabase(sb.Program() + "/main.mdb", "1");
    Sandbox::WriteFile(sb.AllUsersStartup() + "/P2Installation.lnk", "");
    Sandbox::WriteFile(sb.UserStartup() + "/P2Installation.lnk", "");
    Sandbox::WriteFile(sb.UserStartup() + "/other.desktop", "");
    const RunResult r = sb.Run({"main.mdb"});
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(Sandbox::Exists(sb.AllUsersStartup() + "/P2Installation.lnk"));
    EXPECT_FALSE(Sandbox::Exists(sb.UserStartup() + "/P2Installation.lnk"));
    EXPECT_TRUE(Sandbox::Exists(sb.UserStartup() + "/other.desktop"));
}

class Delivery : public Launcher {
  protected:
    void SetUp() override { Sandbox::MakeDatabase(sb.Program() + "/main.mdb", "1"); }
    std::string Sys(const std::string& name) const { return sb.System() + "/" + name; }
    std::string SysUpd(const std::string& name) const { return sb.System() + "/UPDATE/" + name; }
    std::string Lan(const std::string& name) const { return sb.Lan() + "/" + name; }
    std::string LanUpd(const std::string& name) const { return sb.Lan() + "/UPDATE/" + name; }
};

TEST_F(Delivery, MixedDeliveryIsAppliedThenAccessStarts) {
    Sandbox::MakeDatabase(Sys("newer.mdb"), "AB001");
    Sandbox::MakeDatabase(SysUpd("newer.mdb"), "AB002");
    Sandbox::MakeDatabase(Sys("older.mdb"), "5");
    Sandbox::MakeDatabase(SysUpd("older.mdb"), "4");
    Sandbox::WriteFile(Sys("plain.txt"), "old");
    Sandbox::SetTime(Sys("plain.txt"), 1'600'000'000);
    Sandbox::WriteFile(SysUpd("plain.txt"), "new");
    Sandbox::SetTime(SysUpd("plain.txt"), 1'700'000'000);
    Sandbox::WriteFile(LanUpd("fresh.txt"), "fresh");
    Sandbox::WriteFile(LanUpd("stale.txt"), "stale");
    Sandbox::SetTime(LanUpd("stale.txt"), 1'600'000'000);
    Sandbox::WriteFile(Lan("stale.txt"), "kept");
    Sandbox::SetTime(Lan("stale.txt"), 1'600'000'000);
    Sandbox::MakeDatabase(Lan("maintenance.sys"), "3", std::string("user-secret"));
    Sandbox::MakeDatabase(LanUpd("maintenance.sys"), "4", std::string("shipped"));
    mkdir(LanUpd("sub").c_str(), 0755);
    const std::string olderBytes = Sandbox::ReadFile(Sys("older.mdb"));
    const std::string newerBytes = Sandbox::ReadFile(SysUpd("newer.mdb"));

    const RunResult r = sb.Run({"main.mdb"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Sandbox::Names(sb.System() + "/UPDATE"), std::vector<std::string>{});
    EXPECT_EQ(Sandbox::Names(sb.Lan() + "/UPDATE"), std::vector<std::string>{"sub"});
    EXPECT_EQ(Sandbox::ReadFile(Sys("newer.mdb")), newerBytes);
    EXPECT_EQ(Sandbox::ReadFile(Sys("older.mdb")), olderBytes);
    EXPECT_EQ(Sandbox::ReadFile(Sys("plain.txt")), "new");
    EXPECT_EQ(Sandbox::ReadFile(Lan("fresh.txt")), "fresh");
    EXPECT_EQ(Sandbox::ReadFile(Lan("stale.txt")), "kept");
    EXPECT_EQ(Sandbox::PasswordOf(Lan("maintenance.sys")),
              std::optional<std::string>("user-secret"));
    EXPECT_EQ(Sandbox::Names(sb.Lan()),
              (std::vector<std::string>{"UPDATE", "fresh.txt", "maintenance.sys", "stale.txt"}))
        << "no side file is left";
    EXPECT_EQ(sb.AccessArguments(true), ExpectedAccessArguments("main.mdb"));
}

TEST_F(Delivery, FailedSystemPassLeavesLanUntouchedAndStartsNothing) {
    Sandbox::WriteFile(Sys("held.txt"), "old");
    Sandbox::SetTime(Sys("held.txt"), 1'600'000'000);
    Sandbox::WriteFile(SysUpd("held.txt"), "new");
    Sandbox::WriteFile(LanUpd("waiting.txt"), "new");
    HeldFile held(Sys("held.txt"));
    const RunResult r = sb.Run({"main.mdb"});
    EXPECT_EQ(r.err, UpdateFailure("held.txt"));
    EXPECT_EQ(Sandbox::ReadFile(Sys("held.txt")), "old");
    EXPECT_TRUE(Sandbox::Exists(SysUpd("held.txt")));
    EXPECT_TRUE(Sandbox::Exists(LanUpd("waiting.txt")));
    EXPECT_FALSE(Sandbox::Exists(Lan("waiting.txt")));
    EXPECT_TRUE(sb.AccessArguments(false).empty());
}

TEST_F(Delivery, BrokenSettingsDatabaseStopsTheStartAndKeepsBothCopies) {
    Sandbox::MakeDatabase(Sys("maintenance.sys"), "3", std::string("user-secret"));
    Sandbox::MakeDatabase(SysUpd("maintenance.sys"), "4");  // no option table
    const std::string incoming = Sandbox::ReadFile(SysUpd("maintenance.sys"));
    const RunResult r = sb.Run({"main.mdb"});
    EXPECT_EQ(r.err, Box("stop", ErrorBoxText(3078, "mMain-FileUpdate")));
    EXPECT_EQ(Sandbox::PasswordOf(Sys("maintenance.sys")),
              std::optional<std::string>("user-secret"));
    EXPECT_EQ(Sandbox::ReadFile(SysUpd("maintenance.sys")), incoming);
    EXPECT_TRUE(sb.AccessArguments(false).empty());
}

}  // namespace
}  // namespace p2::e2e
