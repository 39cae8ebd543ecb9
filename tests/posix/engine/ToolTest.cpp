// p2wg and the Access stand-in through their command lines, as the build and the tests of
// the installed program use them.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "launcher/Workgroup.h"
#include "posix/engine/EngineFixture.h"

namespace p2::posix::test {
namespace {

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class Tools : public EngineFixture {
  protected:
    // Runs a program of build/bin with `input` on stdin; waits a bounded time for it.
    RunResult Run(const std::string& program, const std::vector<std::string>& args,
                  const std::string& input = "", const std::vector<std::string>& environment = {}) {
        const std::string out = Path(".out"), err = Path(".err"), in = Path(".in");
        MakeFile(".in", input);
        const pid_t child = Start(program, args, environment, in, out, err);
        RunResult result;
        result.exitCode = Wait(child);
        result.out = ReadBytes(out);
        result.err = ReadBytes(err);
        std::remove(out.c_str());
        std::remove(err.c_str());
        std::remove(in.c_str());
        return result;
    }

    pid_t Start(const std::string& program, const std::vector<std::string>& args,
                const std::vector<std::string>& environment, const std::string& in,
                const std::string& out, const std::string& err) {
        const std::string path = std::string(P2_BIN_DIR) + "/" + program;
        const pid_t child = fork();
        if (child == 0) {
            dup2(open(in.c_str(), O_RDONLY), 0);
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
            dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
            for (const std::string& setting : environment) {
                putenv(const_cast<char*>(setting.c_str()));
            }
            std::vector<char*> argv{const_cast<char*>(path.c_str())};
            for (const std::string& arg : args) {
                argv.push_back(const_cast<char*>(arg.c_str()));
            }
            argv.push_back(nullptr);
            execv(path.c_str(), argv.data());
            _exit(127);
        }
        return child;
    }

    static int Wait(pid_t child) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        int status = 0;
        while (waitpid(child, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(child, SIGKILL);
                waitpid(child, &status, 0);
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    static bool Contains(const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    }
};

using WorkgroupTool = Tools;

TEST_F(WorkgroupTool, CreatesAnEmptyWorkgroupFile) {
    const std::string wgf = Path("new.wgf");
    const RunResult created = Run("p2wg", {"create", wgf});
    EXPECT_EQ(created.exitCode, 0) << created.err;
    EXPECT_EQ(created.out + created.err, "");
    EXPECT_EQ(VerifyWorkgroupAccount(wgf, kUser, kPassword), kErrEngineAccountRefused);
}

TEST_F(WorkgroupTool, NeverReplacesAnExistingFile) {
    const std::string before = ReadBytes(wgf_);
    const RunResult again = Run("p2wg", {"create", wgf_});
    EXPECT_EQ(again.exitCode, 2);
    EXPECT_TRUE(Contains(again.err, "already exists")) << again.err;
    EXPECT_EQ(ReadBytes(wgf_), before);
    const std::string db = MakeDatabase("d.mdb", "CREATE TABLE t (v);");
    EXPECT_EQ(Run("p2wg", {"create", db}).exitCode, 2);
}

TEST_F(WorkgroupTool, AddsAnAccountWithThePasswordFromStandardInput) {
    const RunResult added = Run("p2wg", {"add-account", wgf_, "clerk", "-"}, "Hidden pw 1\n");
    EXPECT_EQ(added.exitCode, 0) << added.err;
    EXPECT_EQ(VerifyWorkgroupAccount(wgf_, "CLERK", "Hidden pw 1"), 0);
    EXPECT_EQ(VerifyWorkgroupAccount(wgf_, "clerk", "Hidden pw 1\n"), kErrEngineAccountRefused);
    EXPECT_FALSE(Contains(ReadBytes(wgf_), "Hidden pw 1"));

    EXPECT_EQ(Run("p2wg", {"add-account", wgf_, "Other", "given"}).exitCode, 0);
    EXPECT_EQ(VerifyWorkgroupAccount(wgf_, "other", "given"), 0);
}

TEST_F(WorkgroupTool, RefusesASecondAccountOfTheSameName) {
    const RunResult again = Run("p2wg", {"add-account", wgf_, "TESTER", "other"});
    EXPECT_EQ(again.exitCode, 2);
    EXPECT_EQ(VerifyWorkgroupAccount(wgf_, kUser, kPassword), 0);
}

TEST_F(WorkgroupTool, RemovesAnAccount) {
    EXPECT_EQ(Run("p2wg", {"remove-account", wgf_, "tester"}).exitCode, 0);
    EXPECT_EQ(VerifyWorkgroupAccount(wgf_, kUser, kPassword), kErrEngineAccountRefused);
    const RunResult unknown = Run("p2wg", {"remove-account", wgf_, "tester"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(Contains(unknown.err, "no such account")) << unknown.err;
}

TEST_F(WorkgroupTool, WorksOnlyOnWorkgroupFiles) {
    const std::string db = MakeDatabase("d.mdb", "CREATE TABLE t (v);");
    const RunResult refused = Run("p2wg", {"add-account", db, "x", "y"});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(Contains(refused.err, "not a workgroup file")) << refused.err;
    EXPECT_EQ(Run("p2wg", {"add-account", Path("missing.wgf"), "x", "y"}).exitCode, 2);
}

TEST_F(WorkgroupTool, SecuresADatabaseForNamedAccounts) {
    const std::string db = MakeDatabase("d.mdb", "CREATE TABLE t (v);");
    AddWorkgroupAccount(wgf_, "outsider", "pw");
    EXPECT_EQ(Run("p2wg", {"secure", db, "Tester", "admin"}).exitCode, 0);
    EXPECT_EQ(NumberOf([&] { Engine().OpenDatabase(db); }), 0);
    EXPECT_EQ(NumberOf([&] { Engine("outsider", "pw").OpenDatabase(db); }), kErrEngineNoPermission);
    EXPECT_EQ(Listing().count("d.mdb-journal"), 0u);
    EXPECT_EQ(Run("p2wg", {"secure", MakeFile("t.txt", "text"), "x"}).exitCode, 2);
}

TEST_F(WorkgroupTool, AnswersWrongUseWithTheUsage) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"create"}, {"frobnicate", "x"}, {"add-account", "w", "n"}, {"secure", "d"}}) {
        const RunResult result = Run("p2wg", args);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_TRUE(Contains(result.err, "usage:"));
    }
}

TEST_F(WorkgroupTool, ReadsStampsAsTheProgramDoes) {
    AddWorkgroupAccount(wgf_, GetWorkgroupUser(), GetWorkgroupPassword());
    const std::string db = MakeDatabase("s.mdb",
                                        "CREATE TABLE T00_製品情報 (InfoKey, InfoValue);"
                                        "INSERT INTO T00_製品情報 VALUES ('Version', 'XY007');");
    const RunResult stamp = Run("p2wg", {"stamp", db, "--program-folder", dir_});
    EXPECT_EQ(stamp.exitCode, 0);
    EXPECT_EQ(stamp.out, "7\n");
    EXPECT_EQ(stamp.err, "");

    const RunResult text =
        Run("p2wg", {"stamp", MakeFile("t.mdb", "text"), "--program-folder", dir_});
    EXPECT_EQ(text.out, "-1\n");
    EXPECT_TRUE(Contains(text.err, "ペロリンⅡ [stop]\n")) << text.err;
    EXPECT_TRUE(Contains(text.err, "mMain-GetP2S_VerInfo")) << text.err;
}

TEST_F(WorkgroupTool, TheShippingFileAcceptsTheProgramsAccountAndHidesItsPassword) {
    const std::string shipped = std::string(P2_BIN_DIR) + "/Pelorin2.wgf";
    EXPECT_EQ(VerifyWorkgroupAccount(shipped, GetWorkgroupUser(), GetWorkgroupPassword()), 0);
    EXPECT_FALSE(Contains(ReadBytes(shipped), GetWorkgroupPassword()));

    const std::string made = Path("made.wgf");
    const RunResult created = Run("p2wg", {"create-shipping", made});
    EXPECT_EQ(created.exitCode, 0);
    EXPECT_EQ(created.out + created.err, "");  // the account is never shown
    EXPECT_EQ(VerifyWorkgroupAccount(made, GetWorkgroupUser(), GetWorkgroupPassword()), 0);
    // Salted: two files made alike differ.
    EXPECT_NE(ReadBytes(made), ReadBytes(shipped));
}

class AccessStandIn : public Tools {
  protected:
    void SetUp() override {
        Tools::SetUp();
        target_ = MakeDatabase("App Data.mdb", "CREATE TABLE t (v);");
    }
    std::vector<std::string> LaunchLine(const std::string& password) const {
        return {"/Runtime", target_, "/Wrkgrp", wgf_, "/User", kUser, "/Pwd", password};
    }
    std::string target_;
};

TEST_F(AccessStandIn, OpensTheTargetUnderTheAccountAndRecordsItsArguments) {
    const std::string record = Path("record.txt");
    const RunResult run =
        Run("MSACCESS.EXE", LaunchLine(kPassword), "", {"P2_ACCESS_RECORD=" + record});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "opened " + target_ + "\n")) << run.out;
    EXPECT_FALSE(Contains(run.out, kPassword));
    std::string expected;
    for (const std::string& arg : LaunchLine(kPassword)) {
        expected += arg + "\n";
    }
    EXPECT_EQ(ReadBytes(record), expected);
}

TEST_F(AccessStandIn, ReportsTheEnginesRefusal) {
    const RunResult wrong = Run("MSACCESS.EXE", LaunchLine("wrong"));
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_TRUE(Contains(wrong.out, "error 3029")) << wrong.out;

    auto line = LaunchLine(kPassword);
    line[1] = Path("missing.mdb");
    const RunResult missing = Run("MSACCESS.EXE", line);
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(Contains(missing.out, "error 3024")) << missing.out;
}

TEST_F(AccessStandIn, RefusesAnyOtherCommandLineButStillRecordsIt) {
    const std::string record = Path("record.txt");
    auto line = LaunchLine(kPassword);
    line.push_back("/Extra");
    const RunResult run = Run("MSACCESS.EXE", line, "", {"P2_ACCESS_RECORD=" + record});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(Contains(ReadBytes(record), "/Extra\n"));
    EXPECT_EQ(Run("MSACCESS.EXE", {target_}).exitCode, 2);
}

TEST_F(AccessStandIn, HoldsTheLockFileWhileAsked) {
    const std::string ldb = Path("App Data.ldb");
    const pid_t child = Start("MSACCESS.EXE", LaunchLine(kPassword), {"P2_ACCESS_HOLD=3"},
                              "/dev/null", Path(".out"), Path(".err"));
    // Bounded wait for the lock file to appear.
    int fd = -1;
    for (int i = 0; i < 500 && fd < 0; ++i) {
        fd = open(ldb.c_str(), O_RDWR);
        if (fd < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ASSERT_GE(fd, 0);
    // The file may exist a moment before it is locked.
    bool locked = false;
    for (int i = 0; i < 500 && !locked; ++i) {
        struct flock probe {};
        probe.l_type = F_WRLCK;
        probe.l_whence = SEEK_SET;
        ASSERT_EQ(fcntl(fd, F_OFD_GETLK, &probe), 0);
        locked = probe.l_type != F_UNLCK;
        if (!locked) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    EXPECT_TRUE(locked);
    close(fd);
    EXPECT_EQ(Wait(child), 0);
    EXPECT_EQ(access(ldb.c_str(), F_OK), -1);
}

}  // namespace
}  // namespace p2::posix::test
