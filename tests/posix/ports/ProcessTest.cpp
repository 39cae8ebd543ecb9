// Command lines split as Windows splits them, and Access started and left running on Linux.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Error.h"
#include "platform/posix/CommandLine_posix.h"
#include "platform/posix/Ports_posix.h"

namespace p2::posix {
namespace {

using Items = std::vector<std::string>;

struct SplitCase {
    std::string line;
    Items items;
};

void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << "[" << c.line << "]";
}

class SplitCommandLineRules : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineRules, SplitsLikeTheWindowsCall) {
    EXPECT_EQ(SplitCommandLine(GetParam().line), GetParam().items);
}

INSTANTIATE_TEST_SUITE_P(
    DocumentedExamples, SplitCommandLineRules,
    testing::Values(SplitCase{R"(p "abc" d e)", {"p", "abc", "d", "e"}},
                    SplitCase{R"(p a\\b d"e f"g h)", {"p", R"(a\\b)", "de fg", "h"}},
                    SplitCase{R"(p a\\\"b c d)", {"p", R"(a\"b)", "c", "d"}},
                    SplitCase{R"(p a\\\\"b c" d e)", {"p", R"(a\\b c)", "d", "e"}},
                    SplitCase{R"(p a"b"" c d)", {"p", R"(ab")", "c", "d"}}));

INSTANTIATE_TEST_SUITE_P(ProgramName, SplitCommandLineRules,
                         testing::Values(SplitCase{R"("C:\Program Files\x.exe" /a)",
                                                   {R"(C:\Program Files\x.exe)", "/a"}},
                                         SplitCase{R"(a\"b c)", {R"(a\"b)", "c"}},
                                         SplitCase{R"("a b"c d)", {"a b", "c", "d"}},
                                         SplitCase{R"("unterminated name)", {"unterminated name"}},
                                         SplitCase{R"("" x)", {"", "x"}},
                                         SplitCase{" x", {"", "x"}}, SplitCase{"\tx", {"", "x"}},
                                         SplitCase{"p", {"p"}}, SplitCase{"p  \t ", {"p"}},
                                         SplitCase{"", {}}));

INSTANTIATE_TEST_SUITE_P(
    Arguments, SplitCommandLineRules,
    testing::Values(SplitCase{"p a\tb  c \t", {"p", "a", "b", "c"}},
                    SplitCase{R"(p "" x "")", {"p", "", "x", ""}},
                    SplitCase{R"(p a\\\\b \ c\)", {"p", R"(a\\\\b)", R"(\)", R"(c\)"}},
                    SplitCase{R"(p "a b)", {"p", "a b"}},
                    SplitCase{R"(p "a\" b")", {"p", R"(a" b)"}},
                    SplitCase{R"(p "c:\dir\\" next)", {"p", R"(c:\dir\)", "next"}},
                    SplitCase{R"(p "c:\dir\" next)", {"p", R"(c:\dir" next)"}},
                    SplitCase{R"(p """a b""")", {"p", R"("a)", R"(b")"}},
                    SplitCase{R"(p """")", {"p", R"(")"}},
                    SplitCase{R"(p "a""b c")", {"p", R"(a"b)", "c"}},
                    SplitCase{R"(p \""a b")", {"p", R"("a b)"}},
                    SplitCase{R"(p \\"")", {"p", R"(\)"}}, SplitCase{"p a\nb", {"p", "a\nb"}}));

INSTANTIATE_TEST_SUITE_P(
    LaunchLine, SplitCommandLineRules,
    testing::Values(SplitCase{
        R"("/opt/o/MSACCESS.EXE" /Runtime "/srv/p 2/app.mdb" /Wrkgrp "/srv/p 2/Pelorin2.wgf" /User u /Pwd p)",
        {"/opt/o/MSACCESS.EXE", "/Runtime", "/srv/p 2/app.mdb", "/Wrkgrp", "/srv/p 2/Pelorin2.wgf",
         "/User", "u", "/Pwd", "p"}}));

TEST(SplitCommandLineBytes, EndsAtTheFirstNulAndKeepsOtherBytes) {
    EXPECT_EQ(SplitCommandLine(std::string("p a\0b c", 7)), (Items{"p", "a"}));
    EXPECT_EQ(SplitCommandLine(std::string("\0p", 2)), Items{});
    EXPECT_EQ(SplitCommandLine("p \xFF\xFE \"\xC3\""), (Items{"p", "\xFF\xFE", "\xC3"}));
}

// Quotes one argument so that the Windows rules give it back unchanged.
std::string QuoteArgument(const std::string& argument) {
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        out.push_back(c);
        backslashes = 0;
    }
    out.append(backslashes * 2, '\\');
    out.push_back('"');
    return out;
}

TEST(SplitCommandLineBytes, QuotedArgumentsComeBackUnchanged) {
    const std::string alphabet = "ab \t\\\"\xE3\x83\x9A";
    std::mt19937 random(2024);
    for (int round = 0; round < 2000; ++round) {
        Items expected = {"prog"};
        std::string line = "prog";
        const int count = static_cast<int>(random() % 5);
        for (int n = 0; n < count; ++n) {
            std::string argument;
            const int length = static_cast<int>(random() % 8);
            for (int i = 0; i < length; ++i) {
                argument.push_back(alphabet[random() % alphabet.size()]);
            }
            line += (random() % 2 ? " " : "\t ") + QuoteArgument(argument);
            expected.push_back(argument);
        }
        ASSERT_EQ(SplitCommandLine(line), expected) << line;
    }
}

TEST(SplitCommandLineBytes, AnyInputIsSplit) {
    std::mt19937 random(77);
    for (int round = 0; round < 3000; ++round) {
        std::string line;
        const int length = static_cast<int>(random() % 24);
        for (int i = 0; i < length; ++i) {
            const unsigned pick = random() % 4;
            line.push_back(pick == 0   ? '"'
                           : pick == 1 ? '\\'
                           : pick == 2 ? ' '
                                       : static_cast<char>(random() % 256));
        }
        const Items items = SplitCommandLine(line);
        std::size_t total = 0;
        for (const std::string& item : items) {
            total += item.size();
        }
        EXPECT_LE(total, line.size());
    }
}

class ProcessTempDir {
  public:
    ProcessTempDir() {
        std::string pattern = testing::TempDir() + "p2procXXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~ProcessTempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

class PosixProcessShell : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(temp_.path().empty());
        folder_ = temp_.path() + "/with blank";
        ASSERT_EQ(mkdir(folder_.c_str(), 0755), 0);
        output_ = folder_ + "/argv.txt";
    }

    std::string MakeFile(const std::string& name, const std::string& text, mode_t mode) {
        const std::string path = folder_ + "/" + name;
        {
            std::ofstream out(path, std::ios::binary);
            out << text;
        }
        chmod(path.c_str(), mode);
        return path;
    }

    // A script that writes its arguments one per line, all at once.
    std::string MakeRecorder() {
        return MakeFile("record.sh",
                        "#!/bin/sh\n"
                        "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" +
                            output_ +
                            ".part\"\n"
                            "mv \"" +
                            output_ + ".part\" \"" + output_ + "\"\n",
                        0755);
    }

    // The recorded arguments, once the started program has written them (bounded wait).
    std::optional<std::string> WaitForOutput() {
        for (int i = 0; i < 400; ++i) {
            std::ifstream in(output_, std::ios::binary);
            if (in) {
                std::stringstream text;
                text << in.rdbuf();
                return text.str();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return std::nullopt;
    }

    int ErrorOf(const std::string& commandLine) {
        try {
            PosixProcess().Shell(commandLine, kNormalFocus);
        } catch (const AppError& e) {
            return e.number();
        }
        return 0;
    }

    ProcessTempDir temp_;
    std::string folder_;
    std::string output_;
};

TEST_F(PosixProcessShell, StartsTheProgramWithTheExactArguments) {
    const std::string script = MakeRecorder();
    const std::string line =
        "\"" + script + R"(" plain "with blank" "say \"hi\"" back\slash "end\\" "")";
    const int64_t pid = PosixProcess().Shell(line, kNormalFocus);
    EXPECT_GT(pid, 0);
    const auto recorded = WaitForOutput();
    ASSERT_TRUE(recorded.has_value()) << "the program did not run";
    EXPECT_EQ(*recorded, "plain\nwith blank\nsay \"hi\"\nback\\slash\nend\\\n\n");
}

TEST_F(PosixProcessShell, LeavesNoChildBehind) {
    const std::string script = MakeRecorder();
    const int64_t pid = PosixProcess().Shell("\"" + script + "\" x", kNormalFocus);
    ASSERT_TRUE(WaitForOutput().has_value());
    // Neither the middle process nor the program is ours to reap.
    int status = 0;
    errno = 0;
    EXPECT_EQ(waitpid(static_cast<pid_t>(pid), &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    errno = 0;
    EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST_F(PosixProcessShell, MissingProgramUnquotedOrBelowAFileRaises53) {
    EXPECT_EQ(ErrorOf(folder_ + "/absent"), kErrFileNotFound);
    const std::string plain = MakeFile("plain.txt", "x", 0644);
    EXPECT_EQ(ErrorOf("\"" + plain + "/below\""), kErrFileNotFound);
}

// A script is no program without the right to execute it.
TEST_F(PosixProcessShell, ScriptWithoutExecuteRightFolderOrUnknownFormatRaise70) {
    EXPECT_EQ(ErrorOf("\"" + MakeFile("data.txt", "#!/bin/sh\n", 0644) + "\""),
              kErrPermissionDenied);
    EXPECT_EQ(ErrorOf("\"" + folder_ + "\""), kErrPermissionDenied);
    // Executable by its mode, but no format the system can run.
    EXPECT_EQ(ErrorOf("\"" + MakeFile("garbage", std::string("\x01\x02\x03\x04", 4), 0755) + "\""),
              kErrPermissionDenied);
}

TEST_F(PosixProcessShell, FailedStartOfTheProgramIsReported) {
    const std::string script =
        MakeFile("orphan.sh", "#!" + folder_ + "/no-such-interpreter\n", 0755);
    EXPECT_EQ(ErrorOf("\"" + script + "\""), kErrFileNotFound);
    int status = 0;
    errno = 0;
    EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST_F(PosixProcessShell, NoProgramIsAnInvalidArgument) {
    EXPECT_EQ(ErrorOf(""), kErrInvalidArgument);
    EXPECT_EQ(ErrorOf("\"\" x"), kErrInvalidArgument);
    EXPECT_EQ(ErrorOf(" " + MakeRecorder()), kErrInvalidArgument);
}

}  // namespace
}  // namespace p2::posix
