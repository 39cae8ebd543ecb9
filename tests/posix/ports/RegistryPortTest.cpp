// The Linux registry port over its file: handles, hives, rights, limits and broken files.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/posix/Registry_posix.h"

namespace p2::posix {
namespace {

constexpr uint32_t kHKeyCurrentUser = 0x80000001u;

class RegistryTempDir {
  public:
    RegistryTempDir() {
        std::string pattern = testing::TempDir() + "p2regXXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~RegistryTempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

class PosixRegistryTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        file_ = dir_.path() + "/registry.reg";
    }

    void Write(const std::string& body) {
        WriteText(file_, "Windows Registry Editor Version 5.00\r\n\r\n" + body);
    }

    RegistryTempDir dir_;
    std::string file_;
};

TEST_F(PosixRegistryTest, MissingKeysAnswerFileNotFound) {
    Write("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet]\n");
    PosixRegistry registry(file_);
    RegKey key = 0;
    EXPECT_EQ(registry.OpenKey(kHKeyLocalMachine, "SOFTWARE", kKeyRead, key), kRegFileNotFound);
    EXPECT_EQ(registry.OpenKey(kHKeyLocalMachine, "SYST", kKeyRead, key), kRegFileNotFound);
    EXPECT_EQ(registry.OpenKey(kHKeyLocalMachine, "SYSTEM\\", kKeyRead, key), kRegFileNotFound);
    EXPECT_EQ(registry.OpenKey(kHKeyLocalMachine, "\\SYSTEM", kKeyRead, key), kRegFileNotFound);
    EXPECT_EQ(registry.OpenKey(kHKeyClassesRoot, "SYSTEM", kKeyRead, key), kRegFileNotFound);
    EXPECT_EQ(registry.OpenKey(kHKeyCurrentUser, "", kKeyRead, key), kRegFileNotFound);
    EXPECT_EQ(registry.OpenKey(kHKeyLocalMachine, "system", kKeyRead, key), kRegSuccess);
    EXPECT_EQ(registry.OpenKey(kHKeyLocalMachine, "", kKeyRead, key), kRegSuccess);
}

TEST_F(PosixRegistryTest, HandlesAreUniqueAndCloseOnce) {
    Write("[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"x\"\n");
    PosixRegistry registry(file_);
    RegKey first = 0;
    RegKey second = 0;
    ASSERT_EQ(registry.OpenKey(kHKeyLocalMachine, "K", kKeyRead, first), kRegSuccess);
    ASSERT_EQ(registry.OpenKey(kHKeyLocalMachine, "K", kKeyRead, second), kRegSuccess);
    EXPECT_NE(first, 0u);
    EXPECT_NE(first, second);
    EXPECT_EQ(registry.CloseKey(first), kRegSuccess);
    EXPECT_EQ(registry.CloseKey(first), 6);
    uint32_t type = 0;
    uint32_t size = 4;
    unsigned char data[4] = {};
    EXPECT_EQ(registry.QueryValue(first, "v", type, data, size), 6);
    EXPECT_EQ(registry.QueryValue(second, "v", type, data, size), kRegSuccess);
    EXPECT_EQ(registry.QueryValue(12345, "v", type, data, size), 6);
    EXPECT_EQ(registry.CloseKey(second), kRegSuccess);
}

TEST_F(PosixRegistryTest, OnlyPredefinedHivesAreValidHandles) {
    Write("[HKEY_LOCAL_MACHINE\\K]\n");
    PosixRegistry registry(file_);
    RegKey key = 0;
    EXPECT_EQ(registry.OpenKey(0, "K", kKeyRead, key), 6);
    EXPECT_EQ(registry.OpenKey(0x7FFFFFFFu, "K", kKeyRead, key), 6);
    EXPECT_EQ(registry.OpenKey(0x80000006u, "K", kKeyRead, key), 6);
    EXPECT_EQ(registry.OpenKey(0x80000004u, "K", kKeyRead, key), kRegFileNotFound);
    EXPECT_EQ(registry.OpenKey(kHKeyLocalMachine, "K", kKeyRead, key), kRegSuccess);
}

TEST_F(PosixRegistryTest, MissingFileHoldsNoKeysEvenForFullAccess) {
    PosixRegistry registry(file_);
    RegKey key = 0;
    EXPECT_EQ(registry.OpenKey(kHKeyLocalMachine, "SYSTEM", kKeyAllAccess, key), kRegFileNotFound);
    EXPECT_EQ(registry.OpenKey(kHKeyLocalMachine, "SYSTEM", kKeyRead, key), kRegFileNotFound);
    PosixRegistry underFile(file_ + "/below");
    WriteText(file_, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SYSTEM]\n");
    EXPECT_EQ(underFile.OpenKey(kHKeyLocalMachine, "SYSTEM", kKeyRead, key), kRegFileNotFound);
}

TEST_F(PosixRegistryTest, MalformedFileHoldsNoKeys) {
    Write("[HKEY_LOCAL_MACHINE\\SYSTEM]\n\"v\"=hex:4x\n");
    PosixRegistry registry(file_);
    RegKey key = 0;
    EXPECT_EQ(registry.OpenKey(kHKeyLocalMachine, "SYSTEM", kKeyRead, key), kRegFileNotFound);
}

TEST_F(PosixRegistryTest, FileLargerThanTheLimitHoldsNoKeys) {
    std::string text = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SYSTEM]\n";
    text.resize(kRegistryFileLimit + 1, '\n');
    WriteText(file_, text);
    PosixRegistry registry(file_);
    RegKey key = 0;
    EXPECT_EQ(registry.OpenKey(kHKeyLocalMachine, "SYSTEM", kKeyRead, key), kRegFileNotFound);
}

TEST_F(PosixRegistryTest, FifoInPlaceOfTheFileHoldsNoKeys) {
    ASSERT_EQ(mkfifo(file_.c_str(), 0644), 0);
    PosixRegistry registry(file_);
    RegKey key = 0;
    EXPECT_EQ(registry.OpenKey(kHKeyLocalMachine, "SYSTEM", kKeyRead, key), kRegFileNotFound);
}

TEST_F(PosixRegistryTest, FileIsReadOncePerObject) {
    Write("[HKEY_LOCAL_MACHINE\\First]\n");
    PosixRegistry registry(file_);
    RegKey key = 0;
    ASSERT_EQ(registry.OpenKey(kHKeyLocalMachine, "First", kKeyRead, key), kRegSuccess);
    Write("[HKEY_LOCAL_MACHINE\\Second]\n");
    EXPECT_EQ(registry.OpenKey(kHKeyLocalMachine, "Second", kKeyRead, key), kRegFileNotFound);
    EXPECT_EQ(registry.OpenKey(kHKeyLocalMachine, "First", kKeyRead, key), kRegSuccess);
    PosixRegistry fresh(file_);
    EXPECT_EQ(fresh.OpenKey(kHKeyLocalMachine, "Second", kKeyRead, key), kRegSuccess);
}

TEST_F(PosixRegistryTest, DefaultFileLiesInTheFirstSystemConfigFolder) {
    ASSERT_EQ(mkdir((dir_.path() + "/pelorin2").c_str(), 0755), 0);
    WriteText(dir_.path() + "/pelorin2/registry.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Here]\n");
    const char* old = std::getenv("XDG_CONFIG_DIRS");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    setenv("XDG_CONFIG_DIRS", (dir_.path() + ":/nonexistent").c_str(), 1);
    PosixRegistry registry;
    if (saved) {
        setenv("XDG_CONFIG_DIRS", saved->c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_DIRS");
    }
    RegKey key = 0;
    EXPECT_EQ(registry.OpenKey(kHKeyLocalMachine, "Here", kKeyRead, key), kRegSuccess);
}

// The administrator probe: full access needs the right to write the file.
class PosixRegistryAccessTest : public PosixRegistryTest {
  protected:
    // {full access, read} answers as the given user, by a child when we are root.
    std::pair<long, long> AnswersAs(uid_t uid, gid_t gid) {
        const auto probe = [this] {
            PosixRegistry registry(file_);
            RegKey key = 0;
            const long full = registry.OpenKey(kHKeyLocalMachine, "SYSTEM", kKeyAllAccess, key);
            const long read = registry.OpenKey(kHKeyLocalMachine, "SYSTEM", kKeyRead, key);
            return std::pair<long, long>(full, read);
        };
        if (geteuid() != 0) {
            return probe();
        }
        const pid_t child = fork();
        if (child == 0) {
            if (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 ||
                setresuid(uid, uid, uid) != 0) {
                _exit(99);
            }
            const auto [full, read] = probe();
            _exit(static_cast<int>(full * 10 + read));
        }
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status));
        const int code = WEXITSTATUS(status);
        EXPECT_NE(code, 99) << "could not drop privileges";
        return {code / 10, code % 10};
    }
};

TEST_F(PosixRegistryAccessTest, ReadOnlyUserIsRefusedFullAccessButMayRead) {
    Write("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet]\n");
    if (geteuid() == 0) {
        ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
        ASSERT_EQ(chmod(file_.c_str(), 0644), 0);
        const auto [full, read] = AnswersAs(65534, 65534);
        EXPECT_EQ(full, kRegAccessDenied);
        EXPECT_EQ(read, kRegSuccess);
        // The owner may write, so full access is granted.
        const auto [ownerFull, ownerRead] = [&] {
            PosixRegistry registry(file_);
            RegKey key = 0;
            return std::pair<long, long>(
                registry.OpenKey(kHKeyLocalMachine, "SYSTEM", kKeyAllAccess, key),
                registry.OpenKey(kHKeyLocalMachine, "SYSTEM", kKeyRead, key));
        }();
        EXPECT_EQ(ownerFull, kRegSuccess);
        EXPECT_EQ(ownerRead, kRegSuccess);
        return;
    }
    ASSERT_EQ(chmod(file_.c_str(), 0444), 0);
    if (access(file_.c_str(), W_OK) == 0) {
        GTEST_SKIP() << "this user may write any file";
    }
    const auto [full, read] = AnswersAs(geteuid(), getegid());
    EXPECT_EQ(full, kRegAccessDenied);
    EXPECT_EQ(read, kRegSuccess);
}

TEST_F(PosixRegistryAccessTest, EveryWriteRightNeedsTheRightToWrite) {
    Write("[HKEY_LOCAL_MACHINE\\SYSTEM]\n");
    ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(file_.c_str(), geteuid() == 0 ? 0644 : 0444), 0);
    if (geteuid() != 0 && access(file_.c_str(), W_OK) == 0) {
        GTEST_SKIP() << "this user may write any file";
    }
    for (const uint32_t right : {0x2u, 0x4u, 0x20u, 0x10000u, 0x40000u, 0x80000u}) {
        const auto check = [&] {
            PosixRegistry registry(file_);
            RegKey key = 0;
            return registry.OpenKey(kHKeyLocalMachine, "SYSTEM", kKeyRead | right, key);
        };
        long answer = 0;
        if (geteuid() == 0) {
            const pid_t child = fork();
            if (child == 0) {
                if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                    setresuid(65534, 65534, 65534) != 0) {
                    _exit(99);
                }
                _exit(static_cast<int>(check()));
            }
            int status = 0;
            waitpid(child, &status, 0);
            answer = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        } else {
            answer = check();
        }
        EXPECT_EQ(answer, kRegAccessDenied) << "right 0x" << std::hex << right;
    }
}

TEST_F(PosixRegistryAccessTest, UnreadableFileRefusesReading) {
    Write("[HKEY_LOCAL_MACHINE\\SYSTEM]\n");
    ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(file_.c_str(), 0600), 0);
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(file_.c_str(), 0200), 0);
        if (access(file_.c_str(), R_OK) == 0) {
            GTEST_SKIP() << "this user may read any file";
        }
    }
    const auto [full, read] =
        AnswersAs(geteuid() == 0 ? 65534 : geteuid(), geteuid() == 0 ? 65534 : getegid());
    EXPECT_EQ(full, kRegAccessDenied);
    EXPECT_EQ(read, kRegAccessDenied);
}

}  // namespace
}  // namespace p2::posix
