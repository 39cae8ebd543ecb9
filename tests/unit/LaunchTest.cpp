// The registry wrapper, finding Access, the workgroup account and the lock-file check, on fakes.
#include <gtest/gtest.h>

#include "FakePorts.h"
#include "launch/AppExecute.h"
#include "launch/CheckLdbFile.h"
#include "launch/FindAccess10.h"
#include "launcher/Workgroup.h"
#include "platform/ErrorCatalogue.h"
#include "platform/mRegEdit.h"

namespace p2 {
namespace {

using fake::FileEntry;
using fake::Fixture;

const std::string kKey = "Access.Application.10\\shell\\open\\command";

// A registry whose one key answers a query with raw bytes and records what was asked.
class ByteRegistry final : public Registry {
  public:
    std::string bytes;
    long openResult = kRegSuccess;
    long queryResult = kRegSuccess;
    std::string askedValue;
    uint32_t askedSize = 0;
    uint32_t askedAccess = 0;
    int closes = 0;

    long OpenKey(uint32_t, const std::string&, uint32_t access, RegKey& key) override {
        askedAccess = access;
        key = 7;
        return openResult;
    }
    long QueryValue(RegKey, const std::string& valueName, uint32_t& type, unsigned char* data,
                    uint32_t& size) override {
        askedValue = valueName;
        askedSize = size;
        if (queryResult != kRegSuccess) {
            return queryResult;
        }
        if (bytes.size() > size) {
            return kRegMoreData;
        }
        std::copy(bytes.begin(), bytes.end(), data);
        type = 1;
        size = static_cast<uint32_t>(bytes.size());
        return kRegSuccess;
    }
    long CloseKey(RegKey) override {
        ++closes;
        return kRegSuccess;
    }
    std::string DecodeText(std::string_view b) override { return std::string(b); }
};

TEST(RegGetString, ReadsTheDefaultValueUpToItsTerminator) {
    ByteRegistry r;
    r.bytes = std::string("C:\\x\\MSACCESS.EXE\0", 19);
    EXPECT_EQ(RegGetString(r, kHKeyClassesRoot, kKey, ""), "C:\\x\\MSACCESS.EXE");
    EXPECT_EQ(r.askedValue, "");
    EXPECT_EQ(r.askedSize, 1024u);
    EXPECT_EQ(r.askedAccess, kKeyRead);
    EXPECT_EQ(r.closes, 1);
}

TEST(RegGetString, ValueWhoseTerminatorEndsTheBufferIsReturnedWhole) {
    ByteRegistry r;
    r.bytes = std::string(1023, 'a') + '\0';
    EXPECT_EQ(RegGetString(r, kHKeyClassesRoot, kKey, ""), std::string(1023, 'a'));
}

TEST(RegGetString, ValueNeedingMoreThanTheBufferGivesEmpty) {
    ByteRegistry r;
    r.bytes = std::string(1024, 'a') + '\0';
    EXPECT_EQ(RegGetString(r, kHKeyClassesRoot, kKey, ""), "");
    EXPECT_EQ(r.closes, 1);
}

TEST(RegGetString, FullBufferWithoutNulGivesEmpty) {
    ByteRegistry r;
    r.bytes = std::string(1024, 'a');
    EXPECT_EQ(RegGetString(r, kHKeyClassesRoot, kKey, ""), "");
}

TEST(RegGetString, CutsAtTheFirstNul) {
    ByteRegistry r;
    r.bytes = std::string("ab\0cd\0", 6);
    EXPECT_EQ(RegGetString(r, kHKeyClassesRoot, kKey, "v"), "ab");
    r.bytes = std::string("\0", 1);
    EXPECT_EQ(RegGetString(r, kHKeyClassesRoot, kKey, "v"), "");
    r.bytes = std::string("\x00\x01\x00\x00", 4);  // a number whose lowest byte is 0
    EXPECT_EQ(RegGetString(r, kHKeyClassesRoot, kKey, "v"), "");
    r.bytes = std::string("%SystemRoot%\\a\0", 15);
    EXPECT_EQ(RegGetString(r, kHKeyClassesRoot, kKey, "v"), "%SystemRoot%\\a");
}

TEST(RegGetString, MissingKeyOrValueGivesEmptyAndAnOpenKeyIsClosed) {
    ByteRegistry r;
    r.openResult = kRegFileNotFound;
    EXPECT_EQ(RegGetString(r, kHKeyClassesRoot, kKey, ""), "");
    EXPECT_EQ(r.closes, 0);
    r.openResult = kRegSuccess;
    r.queryResult = kRegFileNotFound;
    EXPECT_EQ(RegGetString(r, kHKeyClassesRoot, kKey, "missing"), "");
    EXPECT_EQ(r.closes, 1);
}

struct LocatorCase {
    const char* commandText;
    const char* path;
};

class AccessLocator : public ::testing::TestWithParam<LocatorCase> {};

TEST_P(AccessLocator, CutsTheExecutablePathOutOfTheCommand) {
    EXPECT_EQ(AccessPathOf(GetParam().commandText, '\\'), GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AccessLocator,
    ::testing::Values(LocatorCase{"\"C:\\Program Files\\Office10\\MSACCESS.EXE\" /NOSTARTUP \"%1\"",
                                  "C:\\Program Files\\Office10\\MSACCESS.EXE"},
                      LocatorCase{"C:\\Office\\MSACCESS.EXE /NOSTARTUP %1",
                                  "C:\\Office\\MSACCESS.EXE"},
                      LocatorCase{"\"\"C:\\Office\\MSACCESS.EXE\"", "\"C:\\Office\\MSACCESS.EXE"},
                      LocatorCase{"  \"C:\\Office\\MSACCESS.EXE\"", "  \"C:\\Office\\MSACCESS.EXE"},
                      LocatorCase{"C:\\A\\MSACCESS.EXE\\B\\MSACCESS.EXE", "C:\\A\\MSACCESS.EXE"},
                      LocatorCase{"\\MSACCESS.EXE", "\\MSACCESS.EXE"},
                      LocatorCase{"C:\\Office\\msaccess.exe /x", ""},
                      LocatorCase{"C:\\Office\\MSACCESS.EX", ""}, LocatorCase{"", ""},
                      LocatorCase{"\"", ""}));

TEST(AccessLocator, UsesThePlatformSeparatorInTheMarker) {
    EXPECT_EQ(AccessPathOf("\"/opt/a/MSACCESS.EXE\" %1", '/'), "/opt/a/MSACCESS.EXE");
    EXPECT_EQ(AccessPathOf("C:\\a\\MSACCESS.EXE", '/'), "");
}

TEST(AccessLocator, MissingKeyGivesEmptyWithoutMessage) {
    Fixture f;
    EXPECT_EQ(FindAccess10(f.ports), "");
    EXPECT_TRUE(f.m.boxes.empty());
}

TEST(AccessLocator, FailureIsReportedWithItsTagAndGivesEmpty) {
    Fixture f;
    f.m.failRegistryRead = 6;
    EXPECT_EQ(FindAccess10(f.ports), "");
    EXPECT_EQ(f.m.BoxTexts(), std::vector<std::string>{ErrorBoxText(6, "mMain-FindAccess10")});
}

class LaunchCommand : public ::testing::Test {
  protected:
    void Register(const std::string& command) { f.m.registryValues[kKey + "|"] = command; }
    Fixture f;
};

TEST_F(LaunchCommand, BuildsTheWholeCommandLinePieceByPiece) {
    f.m.programFolder = "C:\\Program Files\\P 2\\Prog";
    Register("\"C:\\Office 10\\MSACCESS.EXE\" /NOSTARTUP \"%1\"");
    AppExecute(f.ports, "my data.mdb");
    ASSERT_EQ(f.m.started.size(), 1u);
    EXPECT_EQ(f.m.started[0],
              "\"C:\\Office 10\\MSACCESS.EXE\" /Runtime \"C:\\Program Files\\P "
              "2\\Prog\\my data.mdb\" /Wrkgrp \"C:\\Program Files\\P 2\\Prog\\Pelorin2.wgf\" "
              "/User " +
                  GetWorkgroupUser() + " /Pwd " + GetWorkgroupPassword());
    EXPECT_EQ(f.process.lastStyle, kNormalFocus);
    EXPECT_TRUE(f.m.boxes.empty());
}

TEST_F(LaunchCommand, NoAccessRegisteredShowsOnlyTheNoAccessBox) {
    AppExecute(f.ports, "main.mdb");
    EXPECT_TRUE(f.m.started.empty());
    ASSERT_EQ(f.m.boxes.size(), 1u);
    EXPECT_EQ(f.m.boxes[0].text, "Microsoft Access の有効な実行ファイルがシステム中に存在しません");
    EXPECT_EQ(f.m.boxes[0].style, kStyleCritical);
}

TEST_F(LaunchCommand, LocatorFailureShowsItsBoxThenTheNoAccessBox) {
    f.m.failRegistryRead = 7;
    AppExecute(f.ports, "main.mdb");
    EXPECT_EQ(f.m.BoxTexts(),
              (std::vector<std::string>{ErrorBoxText(7, "mMain-FindAccess10"), kNoAccessMessage}));
    EXPECT_TRUE(f.m.started.empty());
}

TEST_F(LaunchCommand, StartFailureIsReportedWithAppExecuteTag) {
    Register("C:\\Gone\\MSACCESS.EXE");
    f.m.failStart = 53;
    AppExecute(f.ports, "main.mdb");
    EXPECT_EQ(f.m.BoxTexts(), std::vector<std::string>{ErrorBoxText(53, "mMain-AppExecute")});
    EXPECT_TRUE(f.m.started.empty());
}

TEST(WorkgroupAccount, IsSixAndElevenLowercaseLettersAndStable) {
    const std::string user = GetWorkgroupUser();
    const std::string password = GetWorkgroupPassword();
    EXPECT_EQ(user.size(), 6u);
    EXPECT_EQ(password.size(), 11u);
    for (char c : user + password) {
        EXPECT_TRUE(c >= 'a' && c <= 'z');
    }
    EXPECT_EQ(GetWorkgroupUser(), user);
    EXPECT_EQ(GetWorkgroupPassword(), password);
}

TEST(WorkgroupContext, SetsTheThreeSettingsInOrderEveryTime) {
    Fixture f;
    SetWorkgroupContext(f.ports);
    SetWorkgroupContext(f.ports);
    const std::vector<std::string> once{"SystemDB=C:\\P2\\Prog\\Pelorin2.wgf",
                                        "DefaultUser=" + GetWorkgroupUser(),
                                        "DefaultPassword=" + GetWorkgroupPassword()};
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(f.m.engineSettings, twice);
}

struct LockCase {
    const char* database;
    const char* lock;
};

class LockFileName_ : public ::testing::TestWithParam<LockCase> {};

TEST_P(LockFileName_, ReplacesOnlyTheLastExtensionOfTheName) {
    EXPECT_EQ(LockFileName(GetParam().database, '\\'), GetParam().lock);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LockFileName_,
    ::testing::Values(LockCase{"C:\\App\\data.mde", "C:\\App\\data.ldb"},
                      LockCase{"C:\\App\\data", "C:\\App\\data.ldb"},
                      LockCase{"C:\\Data.Old\\data", "C:\\Data.Old\\data.ldb"},
                      LockCase{"C:\\App\\archive.old.mde", "C:\\App\\archive.old.ldb"},
                      LockCase{"C:\\App\\.mde", "C:\\App\\.ldb"}, LockCase{"data", "data.ldb"},
                      LockCase{"data.mdb", "data.ldb"}, LockCase{"", ".ldb"}));

class LockFileCheck : public ::testing::Test {
  protected:
    Fixture f;
    const std::string db = "C:\\P2\\Prog\\main.mdb";
    const std::string lock = "C:\\P2\\Prog\\main.ldb";
};

TEST_F(LockFileCheck, AbsentLockIsFalseAndTouchesNothing) {
    EXPECT_FALSE(CheckLdbFile(f.ports, db));
    EXPECT_TRUE(f.m.boxes.empty());
    EXPECT_TRUE(f.m.log.empty());
}

TEST_F(LockFileCheck, DeletableLockIsDeleted) {
    f.m.Put(lock);
    EXPECT_FALSE(CheckLdbFile(f.ports, db));
    EXPECT_FALSE(f.m.Find(lock));
}

TEST_F(LockFileCheck, HeldLockIsTrueStaysAndShowsNothing) {
    f.m.Put(lock, fake::Held());
    EXPECT_TRUE(CheckLdbFile(f.ports, db));
    EXPECT_TRUE(f.m.Find(lock));
    EXPECT_TRUE(f.m.boxes.empty());
}

TEST_F(LockFileCheck, HiddenLockCountsAsAbsent) {
    f.m.Put(lock, fake::Held(true));
    EXPECT_FALSE(CheckLdbFile(f.ports, db));
    EXPECT_TRUE(f.m.Find(lock));
}

TEST_F(LockFileCheck, EmptyPathIsFalseWithoutLookup) {
    f.m.failLookup[".ldb"] = 5;
    EXPECT_FALSE(CheckLdbFile(f.ports, ""));
    EXPECT_TRUE(f.m.boxes.empty());
}

TEST_F(LockFileCheck, FailureIsReportedWithItsTagAndGivesFalse) {
    f.m.failLookup[lock] = 75;
    EXPECT_FALSE(CheckLdbFile(f.ports, db));
    EXPECT_EQ(f.m.BoxTexts(), std::vector<std::string>{ErrorBoxText(75, "mMain-CheckLdbFile")});
}

}  // namespace
}  // namespace p2
