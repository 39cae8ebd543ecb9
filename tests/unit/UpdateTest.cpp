// The update pass on a fake machine: which delivery replaces, which is discarded, and stops.
#include <gtest/gtest.h>

#include "FakePorts.h"
#include "launcher/Main.h"
#include "platform/ErrorCatalogue.h"
#include "update/CheckAcFile.h"
#include "update/FileUpdate.h"
#include "update/GetP2S_VerInfo.h"

namespace p2 {
namespace {

using fake::FileEntry;
using fake::Fixture;
using fake::PlainFile;
using fake::StampedDatabase;

const std::string kSys = "C:\\P2\\SYSTEM";
const std::string kUpd = "C:\\P2\\SYSTEM\\UPDATE";

std::string Installed(const std::string& name) {
    return kSys + "\\" + name;
}
std::string Incoming(const std::string& name) {
    return kUpd + "\\" + name;
}

std::string FailureText(const std::string& name) {
    return "\"" + name + "\" ファイルのアップデート処理に失敗しました。処理を終了します。";
}

class UpdatePass : public ::testing::Test {
  protected:
    bool Run() { return FileUpdate(f.ports, kSys); }
    std::string BytesAt(const std::string& path) {
        const FileEntry* e = f.m.Find(path);
        return e ? e->bytes : "<missing>";
    }
    FileEntry Tagged(FileEntry e, const std::string& bytes) {
        e.bytes = bytes;
        return e;
    }
    Fixture f;
};

TEST_F(UpdatePass, NoOrEmptyUpdateFolderSucceedsQuietly) {
    EXPECT_TRUE(Run());
    f.m.Put(kUpd, fake::Folder());
    f.m.Put(Installed("a.txt"), PlainFile(1));
    EXPECT_TRUE(Run());
    EXPECT_TRUE(f.m.boxes.empty());
    EXPECT_EQ(f.m.Paths(), (std::vector<std::string>{kUpd, Installed("a.txt")}));
}

TEST_F(UpdatePass, SubFoldersAndSystemFilesAreUntouchedHiddenFilesHandled) {
    f.m.Put(Incoming("sub"), fake::Folder());
    f.m.Put(Incoming("sys.dat"), fake::System());
    f.m.Put(Incoming("hidden.txt"), Tagged(fake::Hidden(), "new"));
    EXPECT_TRUE(Run());
    EXPECT_TRUE(f.m.Find(Incoming("sub")));
    EXPECT_TRUE(f.m.Find(Incoming("sys.dat")));
    EXPECT_EQ(BytesAt(Installed("hidden.txt")), "new");
}

TEST_F(UpdatePass, DatabasesAreComparedByStamp) {
    f.m.Put(Installed("new.mdb"), Tagged(StampedDatabase(std::string("AB100")), "old"));
    f.m.Put(Incoming("new.mdb"), Tagged(StampedDatabase(std::string("AB101")), "new"));
    f.m.Put(Installed("same.mdb"), Tagged(StampedDatabase(std::string("5")), "old"));
    f.m.Put(Incoming("same.mdb"), Tagged(StampedDatabase(std::string("5")), "new"));
    f.m.Put(Installed("older.mdb"), Tagged(StampedDatabase(std::string("7")), "old"));
    f.m.Put(Incoming("older.mdb"), Tagged(StampedDatabase(std::string("6")), "new"));
    f.m.Put(Incoming("fresh.mdb"), Tagged(StampedDatabase(std::string("0")), "new"));
    EXPECT_TRUE(Run());
    EXPECT_EQ(BytesAt(Installed("new.mdb")), "new");
    EXPECT_EQ(BytesAt(Installed("same.mdb")), "old");
    EXPECT_EQ(BytesAt(Installed("older.mdb")), "old");
    EXPECT_EQ(BytesAt(Installed("fresh.mdb")), "new") << "a missing installed copy reads -1";
    for (const auto& path : f.m.Paths()) {
        EXPECT_EQ(path.rfind(kUpd, 0), std::string::npos) << path << " left in UPDATE";
    }
    EXPECT_TRUE(f.m.boxes.empty());
}

TEST_F(UpdatePass, OtherFilesAreComparedByModificationTime) {
    f.m.Put(Installed("newer.txt"), Tagged(PlainFile(100), "old"));
    f.m.Put(Incoming("newer.txt"), Tagged(PlainFile(101), "new"));
    f.m.Put(Installed("same.txt"), Tagged(PlainFile(100), "old"));
    f.m.Put(Incoming("same.txt"), Tagged(PlainFile(100), "new"));
    f.m.Put(Installed("older.txt"), Tagged(PlainFile(100), "old"));
    f.m.Put(Incoming("older.txt"), Tagged(PlainFile(99), "new"));
    f.m.Put(Incoming("fresh.txt"), Tagged(PlainFile(-5), "new"));
    EXPECT_TRUE(Run());
    EXPECT_EQ(BytesAt(Installed("newer.txt")), "new");
    EXPECT_EQ(BytesAt(Installed("same.txt")), "old");
    EXPECT_EQ(BytesAt(Installed("older.txt")), "old");
    EXPECT_EQ(BytesAt(Installed("fresh.txt")), "new")
        << "an unreadable installed time lies before any file, even one before the epoch";
    EXPECT_EQ(f.m.files.size(), 4u);
}

TEST_F(UpdatePass, DeliveredFileIsDiscardedAfterEveryMoveAndListedOnceUpFront) {
    f.m.Put(Incoming("a.txt"), PlainFile(5));
    f.m.Put(Incoming("b.txt"), PlainFile(5));
    EXPECT_TRUE(Run());
    const std::vector<std::string> expected{
        "ListFiles " + kUpd,
        "OpenDatabase " + Incoming("a.txt"),
        "ModificationTime " + Installed("a.txt"),
        "ModificationTime " + Incoming("a.txt"),
        "Move " + Incoming("a.txt") + " -> " + Installed("a.txt"),
        "Kill " + Incoming("a.txt"),
        "OpenDatabase " + Incoming("b.txt"),
        "ModificationTime " + Installed("b.txt"),
        "ModificationTime " + Incoming("b.txt"),
        "Move " + Incoming("b.txt") + " -> " + Installed("b.txt"),
        "Kill " + Incoming("b.txt")};
    EXPECT_EQ(f.m.log, expected);
}

TEST_F(UpdatePass, ProbeKindOtherThanZeroOrOneFailsThePass) {
    f.m.Put(Incoming("x.txt"), PlainFile(5));
    f.m.failLookup[Incoming("x.txt")] = 52;
    EXPECT_FALSE(Run());
    EXPECT_EQ(f.m.BoxTexts(), (std::vector<std::string>{ErrorBoxText(52, "mMain-CheckAcFile"),
                                                        FailureText("x.txt")}));
    EXPECT_TRUE(f.m.Find(Incoming("x.txt")));
}

TEST_F(UpdatePass, FailedMoveOnTheThirdOfFiveStopsThere) {
    for (const char* name : {"1.txt", "2.txt", "3.txt", "4.txt", "5.txt"}) {
        f.m.Put(Incoming(name), PlainFile(5));
    }
    f.m.failMoveFrom.insert(Incoming("3.txt"));
    EXPECT_FALSE(Run());
    EXPECT_EQ(f.m.BoxTexts(), std::vector<std::string>{FailureText("3.txt")});
    EXPECT_EQ(f.m.boxes[0].style, kStyleExclamation);
    EXPECT_TRUE(f.m.Find(Installed("1.txt")));
    EXPECT_TRUE(f.m.Find(Installed("2.txt")));
    for (const char* name : {"3.txt", "4.txt", "5.txt"}) {
        EXPECT_TRUE(f.m.Find(Incoming(name))) << name;
        EXPECT_FALSE(f.m.Find(Installed(name))) << name;
    }
}

// Plain files still go by time; a database that does not open is never moved in by it.
TEST_F(UpdatePass, WorkgroupRefusingEveryOpenSendsPlainFilesByTimeAndStopsAtDatabases) {
    f.m.refuseEveryOpen = true;
    f.m.Put(Installed("b.txt"), Tagged(PlainFile(100), "old"));
    f.m.Put(Incoming("b.txt"), Tagged(PlainFile(101), "new"));
    f.m.Put(Installed("a.mdb"), Tagged(StampedDatabase(std::string("9")), "old"));
    f.m.Put(Incoming("a.mdb"), Tagged(StampedDatabase(std::string("1")), "new"));
    f.m.Find(Incoming("a.mdb"))->mtime = 2'000'000;
    EXPECT_FALSE(Run());
    EXPECT_EQ(BytesAt(Installed("b.txt")), "new");
    EXPECT_EQ(BytesAt(Installed("a.mdb")), "old");
    EXPECT_EQ(BytesAt(Incoming("a.mdb")), "new");
    EXPECT_EQ(f.m.BoxTexts(), std::vector<std::string>{FailureText("a.mdb")});
}

enum class Copy { kNone, kPlain, kDatabase, kDamaged };

struct TimeRouteCase {
    Copy installed;
    Copy delivered;  // never kDatabase: a database takes the stamp route
    bool newer;
    bool replaced;
    bool stops;
};

class TimeRoute : public ::testing::TestWithParam<TimeRouteCase> {};

// Only a whole database replaces a database, and a damaged one is never moved in; a delivery
// that the time route would discard is discarded as before.
TEST_P(TimeRoute, NeverPutsAFileThatDoesNotOpenInPlaceOfADatabase) {
    const TimeRouteCase c = GetParam();
    Fixture f;
    const auto entry = [](Copy kind, int64_t mtime, const std::string& bytes) {
        FileEntry e = kind == Copy::kDatabase ? StampedDatabase(std::string("AB104")) : FileEntry{};
        e.signature = kind == Copy::kDamaged;
        e.mtime = mtime;
        e.bytes = bytes;
        return e;
    };
    if (c.installed != Copy::kNone) {
        f.m.Put(Installed("sales.mdb"), entry(c.installed, 100, "old"));
    }
    f.m.Put(Incoming("sales.mdb"), entry(c.delivered, c.newer ? 101 : 99, "new"));
    f.m.Put(Incoming("z.txt"), PlainFile(5));
    EXPECT_EQ(FileUpdate(f.ports, kSys), !c.stops);
    const FileEntry* installed = f.m.Find(Installed("sales.mdb"));
    EXPECT_EQ(installed ? installed->bytes : "<missing>", c.replaced                   ? "new"
                                                          : c.installed == Copy::kNone ? "<missing>"
                                                                                       : "old");
    EXPECT_EQ(f.m.Find(Incoming("sales.mdb")) != nullptr, c.stops);
    EXPECT_EQ(f.m.Find(Incoming("z.txt")) != nullptr, c.stops) << "no later name is handled";
    EXPECT_EQ(f.m.BoxTexts(), c.stops ? std::vector<std::string>{FailureText("sales.mdb")}
                                      : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Table, TimeRoute,
    ::testing::Values(TimeRouteCase{Copy::kDatabase, Copy::kPlain, true, false, true},
                      TimeRouteCase{Copy::kDatabase, Copy::kPlain, false, false, false},
                      TimeRouteCase{Copy::kDatabase, Copy::kDamaged, true, false, true},
                      TimeRouteCase{Copy::kPlain, Copy::kDamaged, true, false, true},
                      TimeRouteCase{Copy::kNone, Copy::kDamaged, true, false, true},
                      TimeRouteCase{Copy::kPlain, Copy::kDamaged, false, false, false},
                      TimeRouteCase{Copy::kDamaged, Copy::kPlain, true, true, false},
                      TimeRouteCase{Copy::kPlain, Copy::kPlain, true, true, false},
                      TimeRouteCase{Copy::kNone, Copy::kPlain, true, true, false}));

TEST_F(UpdatePass, TwoTimeRouteFilesTheSecondWithoutCounterpartIsMovedIn) {
    f.m.Put(Installed("a.txt"), Tagged(PlainFile(100), "old"));
    f.m.Put(Incoming("a.txt"), Tagged(PlainFile(50), "new"));
    f.m.Put(Incoming("b.txt"), Tagged(PlainFile(1), "new"));
    EXPECT_TRUE(Run());
    EXPECT_EQ(BytesAt(Installed("a.txt")), "old");
    EXPECT_EQ(BytesAt(Installed("b.txt")), "new");
}

TEST_F(UpdatePass, ListingFailureIsReportedWithTheUpdateTag) {
    f.m.failListing = 70;
    EXPECT_FALSE(Run());
    EXPECT_EQ(f.m.BoxTexts(), std::vector<std::string>{ErrorBoxText(70, "mMain-FileUpdate")});
}

TEST_F(UpdatePass, CarryOverNameInOtherLetterCaseTakesTheGeneralRule) {
    f.m.Put(Incoming("Maintenance.sys"), PlainFile(5));
    f.m.Put(Incoming("MAINTENANCE.SYS"), PlainFile(5));
    EXPECT_TRUE(Run());
    EXPECT_TRUE(f.m.Find(Installed("Maintenance.sys")));
    EXPECT_TRUE(f.m.Find(Installed("MAINTENANCE.SYS")));
    EXPECT_TRUE(f.m.engineSettings.size() == 6u) << "only the two probes opened anything";
}

// The settings database, with its option table.
FileEntry Settings(const FieldValue& stamp, std::vector<FieldValue> passwords,
                   const std::string& bytes) {
    FileEntry e = StampedDatabase(stamp);
    e.bytes = bytes;
    fake::Table options{{"id", "pwd"}, {}};
    int64_t id = 1;
    for (const auto& pwd : passwords) {
        options.rows.push_back({{"id", id++}, {"pwd", pwd}});
    }
    e.database->tables["TZs_オプション設定"] = options;
    return e;
}

FieldValue PasswordAt(Fixture& f, const std::string& path, std::size_t row = 0) {
    return f.m.Find(path)->database->tables.at("TZs_オプション設定").rows.at(row).at("pwd");
}

class CarryOver : public UpdatePass {
  protected:
    const std::string installed = Installed("maintenance.sys");
    const std::string incoming = Incoming("maintenance.sys");
};

TEST_F(CarryOver, NewerCopyKeepsTheUsersPassword) {
    f.m.Put(installed, Settings(std::string("AB001"), {std::string("secret")}, "old"));
    f.m.Put(incoming, Settings(std::string("AB002"), {std::string("shipped")}, "new"));
    EXPECT_TRUE(Run());
    EXPECT_EQ(BytesAt(installed), "new");
    EXPECT_EQ(PasswordAt(f, installed), FieldValue{std::string("secret")});
    EXPECT_FALSE(f.m.Find(incoming));
    EXPECT_TRUE(f.m.boxes.empty());
}

TEST_F(CarryOver, OpensAndClosesInOrder) {
    f.m.Put(installed, Settings(std::string("2"), {std::string("secret")}, "old"));
    f.m.Put(incoming, Settings(std::string("3"), {std::string("shipped")}, "new"));
    EXPECT_TRUE(Run());
    std::vector<std::string> databaseWork;
    for (const auto& e : f.m.log) {
        if (e.find("Recordset") != std::string::npos || e.find("Database") != std::string::npos ||
            e.rfind("Update", 0) == 0 || e.rfind("Move", 0) == 0) {
            databaseWork.push_back(e);
        }
    }
    const std::vector<std::string> expected{
        // The two stamp readings.
        "OpenDatabase " + installed, "OpenRecordset " + installed + " 4",
        "CloseRecordset maintenance.sys:T00_製品情報", "CloseDatabase " + installed,
        "OpenDatabase " + incoming, "OpenRecordset " + incoming + " 4",
        "CloseRecordset maintenance.sys:T00_製品情報", "CloseDatabase " + incoming,
        // The carry-over.
        "OpenDatabase " + installed, "OpenDatabase " + incoming,
        "OpenRecordset " + installed + " 4", "OpenRecordset " + incoming + " 2",
        "Update maintenance.sys:TZs_オプション設定",
        "CloseRecordset maintenance.sys:TZs_オプション設定",
        "CloseRecordset maintenance.sys:TZs_オプション設定", "CloseDatabase " + installed,
        "CloseDatabase " + incoming, "Move " + incoming + " -> " + installed};
    EXPECT_EQ(databaseWork, expected);
}

TEST_F(CarryOver, NullPasswordIsCarriedToo) {
    f.m.Put(installed, Settings(std::string("2"), {Null{}}, "old"));
    f.m.Put(incoming, Settings(std::string("3"), {std::string("shipped")}, "new"));
    EXPECT_TRUE(Run());
    EXPECT_EQ(PasswordAt(f, installed), FieldValue{Null{}});
}

TEST_F(CarryOver, NotNewerOpensNothingButTheStampsAndDeletesTheIncomingCopy) {
    f.m.Put(installed, Settings(std::string("3"), {std::string("secret")}, "old"));
    f.m.Put(incoming, Settings(std::string("3"), {std::string("shipped")}, "new"));
    EXPECT_TRUE(Run());
    EXPECT_EQ(BytesAt(installed), "old");
    EXPECT_FALSE(f.m.Find(incoming));
    const auto opens = std::count_if(f.m.log.begin(), f.m.log.end(), [](const std::string& e) {
        return e.rfind("OpenDatabase", 0) == 0;
    });
    EXPECT_EQ(opens, 2);
}

TEST_F(CarryOver, NoInstalledCopyMovesInWithItsOwnPassword) {
    f.m.Put(incoming, Settings(std::string("0"), {std::string("shipped")}, "new"));
    EXPECT_TRUE(Run());
    EXPECT_EQ(PasswordAt(f, installed), FieldValue{std::string("shipped")});
}

TEST_F(CarryOver, EitherTableEmptyWritesNothingButStillOpensAndMoves) {
    for (bool installedEmpty : {true, false}) {
        Fixture g;
        std::vector<FieldValue> rows{std::string("secret")};
        g.m.Put(installed, Settings(std::string("1"),
                                    installedEmpty ? std::vector<FieldValue>{} : rows, "old"));
        g.m.Put(incoming, Settings(std::string("2"),
                                   installedEmpty ? rows : std::vector<FieldValue>{}, "new"));
        EXPECT_TRUE(FileUpdate(g.ports, kSys));
        EXPECT_EQ(g.m.Find(installed)->bytes, "new");
        EXPECT_EQ(
            std::count(g.m.log.begin(), g.m.log.end(), "Update maintenance.sys:TZs_オプション設定"),
            0);
        EXPECT_EQ(std::count(g.m.log.begin(), g.m.log.end(), "CloseDatabase " + installed), 2);
    }
}

TEST_F(CarryOver, OnlyTheFirstRowsTakePart) {
    f.m.Put(installed, Settings(std::string("1"), {std::string("a"), std::string("b")}, "old"));
    f.m.Put(incoming, Settings(std::string("2"), {std::string("x"), std::string("y")}, "new"));
    EXPECT_TRUE(Run());
    EXPECT_EQ(PasswordAt(f, installed, 0), FieldValue{std::string("a")});
    EXPECT_EQ(PasswordAt(f, installed, 1), FieldValue{std::string("y")});
}

TEST_F(CarryOver, IncomingWithoutTheFieldFailsAndLeavesBothCopies) {
    f.m.Put(installed, Settings(std::string("1"), {std::string("secret")}, "old"));
    FileEntry broken = Settings(std::string("2"), {std::string("x")}, "new");
    broken.database->tables["TZs_オプション設定"].columns = {"id"};
    f.m.Put(incoming, broken);
    EXPECT_FALSE(Run());
    EXPECT_EQ(f.m.BoxTexts(), std::vector<std::string>{ErrorBoxText(3265, "mMain-FileUpdate")});
    EXPECT_EQ(BytesAt(installed), "old");
    EXPECT_EQ(BytesAt(incoming), "new");
    EXPECT_EQ(std::count_if(f.m.log.begin(), f.m.log.end(),
                            [](const std::string& e) { return e.rfind("Release", 0) == 0; }),
              4)
        << "the two databases and two recordsets are released";
}

TEST_F(CarryOver, IncomingWithoutTheTableFailsAndLeavesBothCopies) {
    f.m.Put(installed, Settings(std::string("1"), {std::string("secret")}, "old"));
    FileEntry broken = Settings(std::string("2"), {std::string("x")}, "new");
    broken.database->tables.erase("TZs_オプション設定");
    f.m.Put(incoming, broken);
    EXPECT_FALSE(Run());
    EXPECT_EQ(f.m.BoxTexts(), std::vector<std::string>{ErrorBoxText(3078, "mMain-FileUpdate")});
    EXPECT_EQ(BytesAt(installed), "old");
    EXPECT_EQ(BytesAt(incoming), "new");
}

TEST_F(CarryOver, AfterATimeRouteFileTheErrorReachesMainWithItsTag) {
    f.m.programFolder = "C:\\P2\\Prog";
    f.m.Put("C:\\P2\\Prog\\main.mdb");
    f.m.argumentText = "main.mdb";
    f.m.Put(Incoming("a.txt"), PlainFile(5));  // listed first: takes the time route
    f.m.Put(installed, Settings(std::string("1"), {std::string("secret")}, "old"));
    FileEntry broken = Settings(std::string("2"), {std::string("x")}, "new");
    broken.database->tables.erase("TZs_オプション設定");
    f.m.Put(incoming, broken);
    Main(f.ports);
    EXPECT_EQ(f.m.BoxTexts(), std::vector<std::string>{ErrorBoxText(3078, "mMain-Main")});
    EXPECT_TRUE(f.m.Find(Installed("a.txt")));
    EXPECT_TRUE(f.m.Find(incoming));
    EXPECT_TRUE(f.m.started.empty());
}

TEST_F(CarryOver, TheLanPassHandlesItsOwnErrorsAgain) {
    f.m.Put("C:\\P2\\Prog\\main.mdb");
    f.m.argumentText = "main.mdb";
    f.m.Put(Incoming("a.txt"), PlainFile(5));
    f.m.Put("C:\\P2\\LAN\\maintenance.sys", Settings(std::string("1"), {std::string("s")}, "o"));
    FileEntry broken = Settings(std::string("2"), {std::string("x")}, "n");
    broken.database->tables.erase("TZs_オプション設定");
    f.m.Put("C:\\P2\\LAN\\UPDATE\\maintenance.sys", broken);
    Main(f.ports);
    EXPECT_EQ(f.m.BoxTexts(), std::vector<std::string>{ErrorBoxText(3078, "mMain-FileUpdate")});
}

TEST(DatabaseProbe, AnswersOneZeroOrMinusOne) {
    Fixture f;
    f.m.Put("C:\\db.mdb", StampedDatabase(std::string("1")));
    f.m.Put("C:\\plain.txt");
    f.m.Put("C:\\hidden.mdb", StampedDatabase(std::string("1")));
    f.m.Find("C:\\hidden.mdb")->hidden = true;
    f.m.Put("C:\\dir", fake::Folder());
    f.m.Put("C:\\sys.mdb", fake::System());
    EXPECT_EQ(CheckAcFile(f.ports, "C:\\db.mdb"), 1);
    EXPECT_EQ(CheckAcFile(f.ports, "C:\\hidden.mdb"), 1);
    EXPECT_EQ(CheckAcFile(f.ports, "C:\\plain.txt"), 0);
    EXPECT_EQ(CheckAcFile(f.ports, "C:\\missing.mdb"), -1);
    EXPECT_EQ(CheckAcFile(f.ports, "C:\\dir"), -1);
    EXPECT_EQ(CheckAcFile(f.ports, "C:\\sys.mdb"), -1);
    f.m.refuseEveryOpen = true;
    EXPECT_EQ(CheckAcFile(f.ports, "C:\\db.mdb"), 0);
    EXPECT_TRUE(f.m.boxes.empty());
    EXPECT_EQ(f.database.created, 4) << "one set-up per probe of an existing file only";
}

TEST(DatabaseProbe, SetUpFailureIsReportedAndGivesMinusOne) {
    Fixture f;
    f.m.Put("C:\\db.mdb", StampedDatabase(std::string("1")));
    f.m.failEngine = 429;
    EXPECT_EQ(CheckAcFile(f.ports, "C:\\db.mdb"), -1);
    EXPECT_EQ(f.m.BoxTexts(), std::vector<std::string>{ErrorBoxText(429, "mMain-CheckAcFile")});
}

struct StampCase {
    FieldValue value;
    int32_t expected;
    bool box;
};

class StampReader : public ::testing::TestWithParam<StampCase> {};

TEST_P(StampReader, ReadsTheStampAsANumber) {
    Fixture f;
    f.m.Put("C:\\db.mdb", StampedDatabase(GetParam().value));
    EXPECT_EQ(GetP2S_VerInfo(f.ports, "C:\\db.mdb"), GetParam().expected);
    EXPECT_EQ(f.m.boxes.size(), GetParam().box ? 1u : 0u);
    if (GetParam().box) {
        EXPECT_NE(f.m.boxes[0].text.find("【mMain-GetP2S_VerInfo】"), std::string::npos);
    }
    const std::string last = f.m.log.back();
    EXPECT_TRUE(last == "CloseDatabase C:\\db.mdb" || last == "ReleaseDatabase C:\\db.mdb")
        << "the database is let go last on every path, after any box: " << last;
}

INSTANTIATE_TEST_SUITE_P(
    Table, StampReader,
    ::testing::Values(StampCase{std::string("AB123"), 123, false},
                      StampCase{std::string("XY007"), 7, false}, StampCase{Null{}, 0, false},
                      StampCase{std::string("0"), 0, false},
                      StampCase{std::string("ab123"), -1, true},
                      StampCase{std::string("ABC12"), -1, true},
                      StampCase{std::string(""), -1, true}, StampCase{int64_t{250}, 250, false},
                      StampCase{2.5, 2, false}, StampCase{Blob{1, 2}, -1, true}));

TEST(StampReader, LayoutsAndMissingStamps) {
    Fixture f;
    f.m.Put("C:\\older.mdb", StampedDatabase(std::string("250"), "DB情報"));
    EXPECT_EQ(GetP2S_VerInfo(f.ports, "C:\\older.mdb"), 250);

    FileEntry both = StampedDatabase(std::string("AB001"));
    both.database->tables["DB情報"] =
        StampedDatabase(std::string("999"), "DB情報").database->tables["DB情報"];
    f.m.Put("C:\\both.mdb", both);
    EXPECT_EQ(GetP2S_VerInfo(f.ports, "C:\\both.mdb"), 1);

    FileEntry none = StampedDatabase(std::string("1"));
    none.database->tables.clear();
    f.m.Put("C:\\none.mdb", none);
    EXPECT_EQ(GetP2S_VerInfo(f.ports, "C:\\none.mdb"), 0);

    FileEntry noRow = StampedDatabase(std::string("1"));
    noRow.database->tables["T00_製品情報"].rows[0]["InfoKey"] = std::string("Other");
    f.m.Put("C:\\norow.mdb", noRow);
    EXPECT_EQ(GetP2S_VerInfo(f.ports, "C:\\norow.mdb"), -1);

    EXPECT_EQ(GetP2S_VerInfo(f.ports, "C:\\missing.mdb"), -1);
    EXPECT_TRUE(f.m.boxes.empty());

    f.m.Put("C:\\plain.txt");
    EXPECT_EQ(GetP2S_VerInfo(f.ports, "C:\\plain.txt"), -1);
    EXPECT_EQ(f.m.BoxTexts(), std::vector<std::string>{ErrorBoxText(3343, "mMain-GetP2S_VerInfo")});
}

struct NumberCase {
    const char* text;
    int32_t expected;
};

class StampNumberConversion : public ::testing::TestWithParam<NumberCase> {};

TEST_P(StampNumberConversion, Converts) {
    EXPECT_EQ(StampNumber(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StampNumberConversion,
    ::testing::Values(NumberCase{"AB123", 123}, NumberCase{"XY123", 123}, NumberCase{"ZZ000", 0},
                      NumberCase{"42", 42}, NumberCase{"  42  ", 42}, NumberCase{"\t7", 7},
                      NumberCase{"-3", -3}, NumberCase{"+3", 3}, NumberCase{"2.5", 2},
                      NumberCase{"3.5", 4}, NumberCase{"-2.5", -2}, NumberCase{"2.51", 3},
                      NumberCase{"2.4999", 2}, NumberCase{"0.5", 0}, NumberCase{".5", 0},
                      NumberCase{"1.", 1}, NumberCase{"2147483647", 2147483647},
                      NumberCase{"-2147483648", -2147483647 - 1},
                      NumberCase{"000000000000000000000012", 12},
                      NumberCase{"2147483646.5", 2147483646}));

TEST(StampNumberConversion, RejectsNonNumbersAndOutOfRange) {
    for (const char* text : {"", " ", "ab123", "ABC12", "AB12", "AB1234", "1 2", "1e3", "--1", "+",
                             ".", "12a", "０"}) {
        try {
            StampNumber(text);
            ADD_FAILURE() << text;
        } catch (const AppError& e) {
            EXPECT_EQ(e.number(), kErrTypeMismatch) << text;
        }
    }
    for (const char* text : {"2147483648", "-2147483649", "2147483647.5", "99999999999999999999"}) {
        try {
            StampNumber(text);
            ADD_FAILURE() << text;
        } catch (const AppError& e) {
            EXPECT_EQ(e.number(), kErrOverflow) << text;
        }
    }
    EXPECT_THROW(StampNumber(std::string(10000, '9')), AppError);
}

}  // namespace
}  // namespace p2
