// Argument texts that try to name a file outside the program folder: Access is started on
// nothing outside it and nothing outside it is deleted.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "HostileSupport.h"
#include "launcher/Workgroup.h"

namespace p2::hostile {
namespace {

class HostileArgument : public ::testing::Test {
  protected:
    void SetUp() override {
        // The files an escaping argument would reach: beside the program folder and one
        // level further out, each with a deletable lock file.
        for (const std::string& folder : {sb.Root(), sb.Root() + "/Other"}) {
            std::filesystem::create_directories(folder);
            Sandbox::MakeDatabase(folder + "/outside.mdb", "1");
            Sandbox::WriteFile(folder + "/outside.ldb", "stale");
        }
        outsideBytes_ = Sandbox::ReadFile(sb.Root() + "/outside.mdb");
        programNames_ = Sandbox::Names(sb.Program());
    }

    void ExpectOutsideUntouched() const {
        for (const std::string& folder : {sb.Root(), sb.Root() + "/Other"}) {
            EXPECT_EQ(Sandbox::ReadFile(folder + "/outside.ldb"), "stale") << folder;
            EXPECT_EQ(Sandbox::ReadFile(folder + "/outside.mdb"), outsideBytes_) << folder;
        }
    }

    std::vector<std::string> ExpectedAccessArguments(const std::string& target) const {
        return {"/Runtime", sb.Program() + "/" + target, "/Wrkgrp", sb.Program() + "/Pelorin2.wgf",
                "/User",    GetWorkgroupUser(),          "/Pwd",    GetWorkgroupPassword()};
    }

    Sandbox sb;
    std::string outsideBytes_;
    std::vector<std::string> programNames_;
};

TEST_F(HostileArgument, NamesThatLeaveTheProgramFolderAreNotFound) {
    const std::string root = sb.Root();
    const std::vector<std::vector<std::string>> cases = {
        {"../outside.mdb"},
        {"..\\outside.mdb"},
        {"../Other/outside.mdb"},
        {"..\\Other\\outside.mdb"},
        {"Prog/../../outside.mdb"},
        {"./../outside.mdb"},
        {root + "/outside.mdb"},
        {root + "\\outside.mdb"},
        {"\"" + root + "/outside.mdb\""},
        {"\"..\\Other\\outside.mdb\" /Runtime"},
        {"../outside.mdb", "more"},
        {"\"../outside", "mdb\""},
        {".."},
        {"."},
        {"..."},
        {"/"},
        {"\\"},
        {"//"},
        {"../"},
        {"..\\"},
        {"outside.mdb/"},
        {"outside.mdb\\"},
        {""},
        {"", ""},
        {"%2e%2e%2foutside.mdb"},
        {"..%5coutside.mdb"},
        // Control characters, newlines among them.
        {"\x01\x02\x03"},
        {"../outside.mdb\n"},
        {"..\n/outside.mdb"},
        {"\n"},
        {"\r\n"},
        {"\t"},
        {"\x1b[2J../outside.mdb"},
        {"outside.mdb\x7f"},
        {"\x7f/outside.mdb"},
        // Wildcards, which the file lookup takes literally.
        {"*"},
        {"*.*"},
        {"*.mdb"},
        {"?"},
        {"outside.md?"},
        {"../*.mdb"},
        {"..\\*"},
        // Not UTF-8, and look-alikes of the separators that are no separators.
        {"\xff\xfe"},
        {"..\xc0\xafoutside.mdb"},
        {"\xc0\xae\xc0\xae/outside.mdb"},
        {"..\xe2\x88\x95outside.mdb"},
        {"..\xef\xbc\x8foutside.mdb"},
        {"..\xef\xbc\xbcoutside.mdb"},
        {"\xed\xa0\x80.mdb"},
        // Very long: one component of 300 bytes, a name of 100,000 characters, and long
        // runs of parent steps in either spelling.
        {std::string(300, 'b') + ".mdb"},
        {std::string(100'000, 'a')},
        {Repeat("../", 30'000) + "outside.mdb"},
        {Repeat("..\\", 30'000) + "outside.mdb"},
        {Repeat("x/", 40'000)},
    };
    for (const auto& args : cases) {
        const RunResult r = sb.Run(args);
        const std::string shown = args[0].substr(0, 60);
        ExpectCleanExit(r);
        EXPECT_EQ(r.err, NotFoundBox()) << "argument: " << shown;
        EXPECT_EQ(r.out, "") << "argument: " << shown;
    }
    ExpectOutsideUntouched();
    EXPECT_EQ(Sandbox::Names(sb.Program()), programNames_);
    EXPECT_TRUE(sb.AccessArguments(false).empty());
}

TEST_F(HostileArgument, UnclosedQuoteBeforeAnEscapeIsAnErrorNotALaunch) {
    for (const std::string& arg :
         {std::string("\"../outside.mdb"), "\"" + sb.Root() + "/outside.mdb"}) {
        const RunResult r = sb.Run({arg});
        ExpectCleanExit(r);
        EXPECT_EQ(r.err, ErrorBox(5, "mMain-Main")) << arg;
    }
    ExpectOutsideUntouched();
    EXPECT_TRUE(sb.AccessArguments(false).empty());
}

TEST_F(HostileArgument, EscapingNameReachesOnlyTheFileOfThatNameInsideTheProgramFolder) {
    Sandbox::MakeDatabase(sb.Program() + "/outside.mdb", "1");
    // The last one: a quoted path followed by further arguments; only the quoted part counts.
    const std::vector<std::vector<std::string>> cases = {
        {"../outside.mdb"},
        {"..\\Other\\outside.mdb"},
        {sb.Root() + "/Other/outside.mdb"},
        {"\"" + sb.Root() + "\\outside.mdb\"", "/x"},
    };
    for (const auto& args : cases) {
        const std::string& arg = args[0];
        Sandbox::WriteFile(sb.Program() + "/outside.ldb", "stale");
        unlink(sb.RecordFile().c_str());
        const RunResult r = sb.Run(args);
        ExpectCleanExit(r);
        EXPECT_EQ(r.err, "") << arg;
        EXPECT_EQ(sb.AccessArguments(true), ExpectedAccessArguments("outside.mdb")) << arg;
        EXPECT_FALSE(Sandbox::Exists(sb.Program() + "/outside.ldb")) << "its own lock is cleared";
    }
    ExpectOutsideUntouched();
}

TEST_F(HostileArgument, WildcardsNameOnlyTheFileOfThatVeryName) {
    Sandbox::MakeDatabase(sb.Program() + "/main.mdb", "1");
    Sandbox::WriteFile(sb.Program() + "/main.ldb", "stale");
    Sandbox::MakeDatabase(sb.Program() + "/*.mdb", "1");
    Sandbox::WriteFile(sb.Program() + "/*.ldb", "stale");

    const RunResult r = sb.Run({"*.mdb"});
    ExpectCleanExit(r);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(sb.AccessArguments(true), ExpectedAccessArguments("*.mdb"));
    EXPECT_FALSE(Sandbox::Exists(sb.Program() + "/*.ldb"));
    EXPECT_EQ(Sandbox::ReadFile(sb.Program() + "/main.ldb"), "stale");

    unlink(sb.RecordFile().c_str());
    const RunResult pattern = sb.Run({"?ain.mdb"});
    ExpectCleanExit(pattern);
    EXPECT_EQ(pattern.err, NotFoundBox());
    EXPECT_EQ(Sandbox::ReadFile(sb.Program() + "/main.ldb"), "stale");
    EXPECT_TRUE(sb.AccessArguments(false).empty());
}

TEST_F(HostileArgument, LockFileThatLinksOutIsDeletedAsALink) {
    Sandbox::MakeDatabase(sb.Program() + "/main.mdb", "1");
    ASSERT_EQ(symlink((sb.Root() + "/outside.ldb").c_str(), (sb.Program() + "/main.ldb").c_str()),
              0);
    const RunResult r = sb.Run({"main.mdb"});
    ExpectCleanExit(r);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(Sandbox::Exists(sb.Program() + "/main.ldb"));
    ExpectOutsideUntouched();
    EXPECT_EQ(sb.AccessArguments(true), ExpectedAccessArguments("main.mdb"));
}

}  // namespace
}  // namespace p2::hostile
