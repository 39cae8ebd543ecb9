// `cmake --install` of this build into a temporary prefix: the installed layout, the desktop
// entry and polkit action that elevate the launcher, the icons, and one run of the installed
// launcher.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Identity.h"
#include "Png.h"
#include "XmlTags.h"
#include "launcher/Main.h"

namespace p2::test {
namespace {

namespace fs = std::filesystem;

extern "C" char** environ;

struct RunResult {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs a program with the given environment and waits for it, at most two minutes.
RunResult RunProgram(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& var : env) {
        envp.push_back(const_cast<char*>(var.c_str()));
    }
    envp.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, 0);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    RunResult result;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        const int ready = poll(fds, 2, 120000);
        if (ready <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& fd : fds) {
        if (fd.fd >= 0) {
            close(fd.fd);
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::vector<std::string> InheritedEnvironment() {
    std::vector<std::string> env;
    for (char** var = environ; *var != nullptr; ++var) {
        env.emplace_back(*var);
    }
    return env;
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::uint8_t> ReadBinary(const fs::path& path) {
    const std::string text = ReadText(path);
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Where a program is on the PATH, or empty.
std::string OnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const fs::path candidate = fs::path(dir) / name;
        if (!dir.empty() && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

class Installation : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/p2-install-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        sandbox_ = pattern;
        prefix_ = sandbox_ / "prefix";
        install_ = RunProgram({P2_CMAKE_COMMAND, "--install", P2_BUILD_DIR, "--prefix", prefix_},
                              InheritedEnvironment());
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        fs::remove_all(sandbox_, ignored);
    }
    void SetUp() override { ASSERT_EQ(install_.status, 0) << install_.out << install_.err; }

    static fs::path Root() { return prefix_ / "lib/pelorin2"; }
    static fs::path Launcher() { return Root() / "Pelorin2/Pelorin2"; }

    static fs::path sandbox_;
    static fs::path prefix_;
    static RunResult install_;
};

fs::path Installation::sandbox_;
fs::path Installation::prefix_;
RunResult Installation::install_;

// ---- Layout ----------------------------------------------------------------------------

using InstalledLayout = Installation;

TEST_F(InstalledLayout, ProgramFolderHoldsTheExecutableLauncher) {
    struct stat info {};
    ASSERT_EQ(stat(Launcher().c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 0111, 0111u) << "executable by everyone, elevated or not";
    EXPECT_EQ(info.st_mode & 0022, 0u) << "writable by its owner only";
}

TEST_F(InstalledLayout, WorkgroupFileLiesBesideTheLauncherWhenTheBuildMadeOne) {
    const fs::path built = fs::path(P2_BUILD_DIR) / "bin/Pelorin2.wgf";
    if (!fs::exists(built)) {
        GTEST_SKIP() << "this build made no workgroup file";
    }
    EXPECT_EQ(ReadBinary(Root() / "Pelorin2/Pelorin2.wgf"), ReadBinary(built));
}

TEST_F(InstalledLayout, InstallationFoldersHaveEmptyUpdateFolders) {
    for (const char* folder : {"SYSTEM/UPDATE", "LAN/UPDATE"}) {
        SCOPED_TRACE(folder);
        ASSERT_TRUE(fs::is_directory(Root() / folder));
        EXPECT_TRUE(fs::is_empty(Root() / folder));
    }
    // Nothing else beside the program folder and the two installation folders.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Root())) {
        names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"LAN", "Pelorin2", "SYSTEM"}));
}

// ---- Desktop entry and polkit action -----------------------------------------------------

using DesktopEntry = Installation;

TEST_F(DesktopEntry, StartsTheInstalledLauncherThroughPkexec) {
    const auto lines = Lines(ReadText(prefix_ / "share/applications/pelorin2.desktop"));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "[Desktop Entry]");
    const auto has = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(has("Exec=pkexec " + Launcher().string() + " %f"));
    EXPECT_TRUE(has("Name=ペロリンⅡ"));
    EXPECT_TRUE(has("Name[ja]=ペロリンⅡ"));
    EXPECT_TRUE(has("Icon=pelorin2"));
    EXPECT_TRUE(has("Type=Application"));
    EXPECT_TRUE(has("Terminal=false"));
    EXPECT_TRUE(has("Categories=Office;"));
}

TEST_F(DesktopEntry, PassesDesktopFileValidate) {
    const std::string validator = OnPath("desktop-file-validate");
    if (validator.empty()) {
        GTEST_SKIP() << "desktop-file-validate is not installed (desktop-file-utils)";
    }
    const RunResult result = RunProgram(
        {validator, prefix_ / "share/applications/pelorin2.desktop"}, InheritedEnvironment());
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(result.out + result.err, "");
}

using PolkitAction = Installation;

TEST_F(PolkitAction, ElevatesExactlyTheInstalledLauncherWithItsDialogs) {
    const std::string doc = ReadText(prefix_ / "share/polkit-1/actions/jp.example.pelorin2.policy");
    const auto tags = XmlStartTags(doc);
    std::map<std::string, std::string> annotations;
    std::map<std::string, std::string> texts;
    int actions = 0;
    for (const XmlTag& tag : tags) {
        if (tag.name == "annotate") {
            annotations[tag.attributes.at("key")] = tag.text;
        } else if (tag.name == "action") {
            ++actions;
            EXPECT_EQ(tag.attributes.at("id"), "jp.example.pelorin2.run");
        } else if (tag.name == "message" || tag.name == "description") {
            const auto lang = tag.attributes.find("xml:lang");
            texts[tag.name + "/" + (lang == tag.attributes.end() ? "" : lang->second)] = tag.text;
        } else {
            texts[tag.name] = tag.text;
        }
    }
    EXPECT_EQ(actions, 1);
    EXPECT_EQ(annotations["org.freedesktop.policykit.exec.path"], Launcher().string());
    EXPECT_EQ(annotations["org.freedesktop.policykit.exec.allow_gui"], "true");
    EXPECT_EQ(texts["allow_active"], "auth_admin_keep");
    EXPECT_EQ(texts["vendor"], kMakerName);
    for (const char* key : {"message/", "message/ja", "description/", "description/ja"}) {
        EXPECT_FALSE(texts[key].empty()) << key;
    }
}

TEST_F(PolkitAction, IsWellFormedXml) {
    const std::string xmllint = OnPath("xmllint");
    if (xmllint.empty()) {
        GTEST_SKIP() << "xmllint is not installed (libxml2-utils)";
    }
    const RunResult result =
        RunProgram({xmllint, "--noout", "--nonet",
                    prefix_ / "share/polkit-1/actions/jp.example.pelorin2.policy",
                    prefix_ / "share/icons/hicolor/scalable/apps/pelorin2.svg"},
                   InheritedEnvironment());
    EXPECT_EQ(result.status, 0) << result.out << result.err;
}

// ---- Icons -----------------------------------------------------------------------------

using DesktopIcons = Installation;

TEST_F(DesktopIcons, EachSizeIsASoundRgbaPngOfThatSize) {
    for (std::uint32_t n : {16u, 24u, 32u, 48u, 64u, 128u, 256u}) {
        const std::string size = std::to_string(n) + "x" + std::to_string(n);
        SCOPED_TRACE(size);
        const fs::path path = prefix_ / "share/icons/hicolor" / size / "apps/pelorin2.png";
        PngImage image;
        try {
            image = ReadPng(ReadBinary(path));
        } catch (const std::exception& error) {
            ADD_FAILURE() << path << ": " << error.what();
            continue;
        }
        EXPECT_EQ(image.width, n);
        EXPECT_EQ(image.height, n);
        EXPECT_EQ(image.bitDepth, 8);
        EXPECT_EQ(image.colourType, 6);
        ASSERT_EQ(image.rows.size(), n * (1 + 4 * n));
        // The badge's rounded corners are clear, its middle solid.
        EXPECT_EQ(image.Alpha(0, 0), 0);
        EXPECT_EQ(image.Alpha(n - 1, n - 1), 0);
        EXPECT_EQ(image.Alpha(n / 2, n / 2), 255);
    }
}

TEST_F(DesktopIcons, ScalableIconIsTheSameEmblem) {
    const std::string svg = ReadText(prefix_ / "share/icons/hicolor/scalable/apps/pelorin2.svg");
    const auto tags = XmlStartTags(svg);
    ASSERT_FALSE(tags.empty());
    EXPECT_EQ(tags.front().name, "svg");
    EXPECT_EQ(tags.front().attributes.at("viewBox"), "0 0 16 16");
    int shapes = 0;
    for (const XmlTag& tag : tags) {
        shapes += (tag.name == "rect" || tag.name == "path") ? 1 : 0;
    }
    EXPECT_EQ(shapes, 4) << "badge, face, letters and bar";
}

// ---- The installed launcher -------------------------------------------------------------

using InstalledLauncher = Installation;

// Without a registry file there is no key to open with full rights: the launcher takes the
// user for a restricted one, and with no display says so on standard error.
TEST_F(InstalledLauncher, WithoutRegistryReportsRestrictedAccountOnStandardError) {
    const fs::path home = sandbox_ / "home";
    const fs::path runtime = sandbox_ / "run";
    fs::create_directories(home / ".config");
    fs::create_directories(sandbox_ / "xdg");
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    const char* path = std::getenv("PATH");
    const RunResult result = RunProgram(
        {Launcher().string(), "sample.mdb"},
        {"HOME=" + home.string(), "XDG_CONFIG_HOME=" + (home / ".config").string(),
         "XDG_CONFIG_DIRS=" + (sandbox_ / "xdg").string(), "XDG_RUNTIME_DIR=" + runtime.string(),
         "LANG=C.UTF-8", std::string("PATH=") + (path != nullptr ? path : "/usr/bin:/bin")});
    if (result.out.empty() && result.err.empty()) {
        GTEST_SKIP() << "the launcher printed nothing: its Linux entry point is not in place";
    }
    std::string message = RestrictedAccountMessage();
    for (std::size_t pos; (pos = message.find("\r\n")) != std::string::npos;) {
        message.replace(pos, 2, "\n");
    }
    EXPECT_EQ(result.err, "ペロリンⅡ [exclamation]\n" + message + "\n");
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(fs::exists(sandbox_ / "xdg/pelorin2")) << "a refused start changes nothing";
}

}  // namespace
}  // namespace p2::test
