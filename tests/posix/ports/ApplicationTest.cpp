// The Linux application port: argument text, program folder, instance lock and message boxes.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FilesTestSupport.h"
#include "platform/posix/CommandLine_posix.h"
#include "platform/posix/Ports_posix.h"

extern char** environ;

namespace p2::posix {
namespace {

using files_test::ChildResult;
using files_test::ReadFile;
using files_test::RunInChild;
using files_test::TempDir;
using files_test::WriteFile;

const std::string kTitle = "ペロリンⅡ";

// Sets an environment variable for the life of the object, then puts the old value back.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_.c_str(), old_->c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }

  private:
    std::string name_;
    std::optional<std::string> old_;
};

TEST(PosixArgumentText, QuotesOnlyEmptyArgumentsAndThoseWithBlanksOrTabs) {
    EXPECT_EQ(JoinArguments({}), "");
    EXPECT_EQ(JoinArguments({"plain.mdb"}), "plain.mdb");
    EXPECT_EQ(JoinArguments({"a", "b"}), "a b");
    EXPECT_EQ(JoinArguments({""}), "\"\"");
    EXPECT_EQ(JoinArguments({"my file.mdb", "x"}), "\"my file.mdb\" x");
    EXPECT_EQ(JoinArguments({"tab\there"}), "\"tab\there\"");
    EXPECT_EQ(JoinArguments({"a", "", "b"}), "a \"\" b");
    // Quotes inside an argument are kept as they are; the core cuts at them.
    EXPECT_EQ(JoinArguments({"\"q\""}), "\"q\"");
    EXPECT_EQ(JoinArguments({"sub\\name.mdb"}), "sub\\name.mdb");
}

TEST(PosixArgumentText, ComesFromTheArgumentsGiven) {
    PosixApplication app({"/path/with space/a.mdb", "--x"});
    EXPECT_EQ(app.ArgumentText(), "\"/path/with space/a.mdb\" --x");
    PosixApplication none({});
    EXPECT_EQ(none.ArgumentText(), "");
}

TEST(PosixProgramFolder, IsTheFolderOfTheRunningExecutable) {
    char resolved[PATH_MAX];
    ASSERT_NE(realpath(P2_BIN_DIR, resolved), nullptr);
    PosixApplication app({});
    const std::string folder = app.ProgramFolder();
    EXPECT_EQ(folder, std::string(resolved));
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '/');
}

// Shows one box in a forked child with the given environment; returns what reached stderr.
ChildResult ShowBox(const std::string& text, MessageStyle style, const char* display,
                    const char* wayland, const std::string& path) {
    return RunInChild([&] {
        if (display) {
            setenv("DISPLAY", display, 1);
        } else {
            unsetenv("DISPLAY");
        }
        if (wayland) {
            setenv("WAYLAND_DISPLAY", wayland, 1);
        } else {
            unsetenv("WAYLAND_DISPLAY");
        }
        setenv("PATH", path.c_str(), 1);
        PosixApplication app({});
        app.SetTitle(kTitle);
        app.MessageBox(text, style);
        return std::string("returned");
    });
}

class PosixMessageBox : public ::testing::Test {
  protected:
    // A zenity that records its arguments, NUL-separated, and exits with `status`.
    void InstallFakeZenity(int status) {
        const std::string script = dir_ / "zenity";
        WriteFile(script, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" +
                              record_ + "'\nexit " + std::to_string(status) + "\n");
        ASSERT_EQ(chmod(script.c_str(), 0755), 0);
    }
    std::vector<std::string> RecordedArguments() const {
        std::vector<std::string> args;
        const std::string bytes = ReadFile(record_);
        size_t start = 0;
        for (size_t end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1) {
            args.push_back(bytes.substr(start, end - start));
        }
        return args;
    }
    bool ZenityRan() const { return access(record_.c_str(), F_OK) == 0; }

    TempDir dir_;
    std::string record_ = dir_ / "zenity-args";
};

TEST_F(PosixMessageBox, WithoutDisplayWritesStopBoxToStandardError) {
    InstallFakeZenity(0);
    const ChildResult result =
        ShowBox("line one\r\nline two\r\n\r\nlast", kStyleCritical, nullptr, nullptr, dir_.path());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.value, "returned");
    EXPECT_EQ(result.stderrBytes, kTitle + " [stop]\nline one\nline two\n\nlast\n");
    EXPECT_FALSE(ZenityRan());
}

TEST_F(PosixMessageBox, WithoutDisplayWritesExclamationBoxToStandardError) {
    const ChildResult result = ShowBox("注意", kStyleExclamation, "", "", dir_.path());
    EXPECT_EQ(result.stderrBytes, kTitle + " [exclamation]\n注意\n");
}

TEST_F(PosixMessageBox, KeepsLoneCarriageReturnsAndLineFeeds) {
    const ChildResult result = ShowBox("a\rb\nc\r", kStyleCritical, nullptr, nullptr, "/nowhere");
    EXPECT_EQ(result.stderrBytes, kTitle + " [stop]\na\rb\nc\r\n");
}

TEST_F(PosixMessageBox, WithDisplayButNoZenityOnPathFallsBackToStandardError) {
    const ChildResult result = ShowBox("t", kStyleExclamation, ":99", nullptr, dir_.path());
    EXPECT_EQ(result.stderrBytes, kTitle + " [exclamation]\nt\n");
}

TEST_F(PosixMessageBox, WithDisplayRunsZenityModallyAndWritesNothing) {
    InstallFakeZenity(0);
    const ChildResult result =
        ShowBox("<b>x</b>\r\nnext", kStyleCritical, ":99", nullptr, "relative:" + dir_.path());
    EXPECT_EQ(result.value, "returned");
    EXPECT_EQ(result.stderrBytes, "");
    // The box has been dismissed (the fake has finished) before MessageBox returns.
    const std::vector<std::string> expected = {"--error", "--title=" + kTitle, "--no-markup",
                                               "--text=<b>x</b>\nnext"};
    EXPECT_EQ(RecordedArguments(), expected);
}

TEST_F(PosixMessageBox, WithWaylandOnlyRunsZenityWithWarningIcon) {
    InstallFakeZenity(1);  // closed with the window button: still dismissed
    const ChildResult result = ShowBox("w", kStyleExclamation, nullptr, "wayland-0", dir_.path());
    EXPECT_EQ(result.stderrBytes, "");
    const std::vector<std::string> expected = {"--warning", "--title=" + kTitle, "--no-markup",
                                               "--text=w"};
    EXPECT_EQ(RecordedArguments(), expected);
}

TEST_F(PosixMessageBox, ZenityThatCannotShowTheBoxFallsBackToStandardError) {
    InstallFakeZenity(255);
    const ChildResult result = ShowBox("t", kStyleCritical, ":99", nullptr, dir_.path());
    EXPECT_TRUE(ZenityRan());
    EXPECT_EQ(result.stderrBytes, kTitle + " [stop]\nt\n");
}

class PosixPrevInstance : public ::testing::Test {
  protected:
    // Whether a fresh instance in another process would find a previous one.
    bool OtherProcessSeesInstance() {
        const ChildResult result = RunInChild([] {
            PosixApplication app({});
            return std::string(app.PrevInstance() ? "running" : "alone");
        });
        EXPECT_EQ(result.status, 0);
        return result.value == "running";
    }

    TempDir runtime_;
    ScopedEnv env_{"XDG_RUNTIME_DIR", runtime_.path().c_str()};
};

TEST_F(PosixPrevInstance, SecondInstanceSeesTheFirstUntilItEnds) {
    auto first = std::make_unique<PosixApplication>(std::vector<std::string>{});
    EXPECT_FALSE(OtherProcessSeesInstance());
    EXPECT_FALSE(first->PrevInstance());
    EXPECT_EQ(access((runtime_ / "pelorin2.lock").c_str(), F_OK), 0);
    EXPECT_TRUE(OtherProcessSeesInstance());
    EXPECT_TRUE(OtherProcessSeesInstance());
    // Asking again does not make an instance its own predecessor.
    EXPECT_FALSE(first->PrevInstance());
    first.reset();
    EXPECT_FALSE(OtherProcessSeesInstance());
}

TEST_F(PosixPrevInstance, KilledInstanceDoesNotBlockTheNext) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        PosixApplication app({});
        const char answer = app.PrevInstance() ? 'y' : 'n';
        (void)!write(ready[1], &answer, 1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char answer = 0;
    ASSERT_EQ(read(ready[0], &answer, 1), 1);
    close(ready[0]);
    EXPECT_EQ(answer, 'n');
    EXPECT_TRUE(OtherProcessSeesInstance());
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    PosixApplication next({});
    EXPECT_FALSE(next.PrevInstance());
}

TEST_F(PosixPrevInstance, StartedProgramsDoNotInheritTheLock) {
    auto first = std::make_unique<PosixApplication>(std::vector<std::string>{});
    ASSERT_FALSE(first->PrevInstance());
    // Something started by the instance (as Access is) outlives it.
    pid_t sleeper = 0;
    char sleepPath[] = "/bin/sleep";
    char seconds[] = "30";
    char* argv[] = {sleepPath, seconds, nullptr};
    ASSERT_EQ(posix_spawn(&sleeper, sleepPath, nullptr, nullptr, argv, environ), 0);
    first.reset();
    EXPECT_FALSE(OtherProcessSeesInstance());
    kill(sleeper, SIGKILL);
    int status = 0;
    waitpid(sleeper, &status, 0);
}

TEST_F(PosixPrevInstance, LinkAtTheLockPathIsNotFollowed) {
    const std::string target = runtime_ / "elsewhere";
    ASSERT_EQ(symlink(target.c_str(), (runtime_ / "pelorin2.lock").c_str()), 0);
    PosixApplication app({});
    EXPECT_FALSE(app.PrevInstance());
    EXPECT_NE(access(target.c_str(), F_OK), 0);
}

TEST_F(PosixPrevInstance, UnopenableLockFileLetsTheProgramRun) {
    ASSERT_EQ(mkdir((runtime_ / "pelorin2.lock").c_str(), 0700), 0);
    PosixApplication app({});
    EXPECT_FALSE(app.PrevInstance());
    EXPECT_FALSE(OtherProcessSeesInstance());
}

}  // namespace
}  // namespace p2::posix
