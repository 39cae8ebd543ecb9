// The update pass killed at many points: it never leaves a file lost, partial or beside it,
// and the next start finishes the update as one uninterrupted run does.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <sstream>

#include "Delivery.h"
#include "Launch.h"
#include "Sandbox.h"
#include "StressCounts.h"

namespace p2::stress {
namespace {

using Clock = std::chrono::steady_clock;

std::string Join(const std::vector<std::string>& lines) {
    std::string text;
    for (std::size_t i = 0; i < lines.size() && i < 20; ++i) {
        text += "  " + lines[i] + "\n";
    }
    if (lines.size() > 20) {
        text += "  ... and " + std::to_string(lines.size() - 20) + " more\n";
    }
    return text;
}

class CrashSafety : public ::testing::Test {
  protected:
    CrashSafety() : scratch(sb.Root() + "/scratch"), delivery(MakeScratch(scratch), 110) {
        e2e::Sandbox::MakeDatabase(sb.Program() + "/main.mdb", "1");
    }
    static std::string MakeScratch(const std::string& path) {
        std::filesystem::create_directories(path);
        return path;
    }
    std::vector<std::string> Watched() const {
        return {sb.System(), sb.System() + "/UPDATE", sb.Lan(), sb.Lan() + "/UPDATE"};
    }

    void KillAndFinish(int wantedKills);

    e2e::Sandbox sb;
    std::string scratch;
    Delivery delivery;
};

TEST_F(CrashSafety, KilledPassLosesNothingAndTheNextStartFinishesIt) {
    KillAndFinish(Count("P2_SOAK_KILLS", kDefaultKills));
}

// Each UPDATE folder on a file system of its own (a small tmpfs, mounted as root only), so
// that every move is a copy: a killed copy leaves nothing that the next start does not clear.
class CrashSafetyAcrossFileSystems : public CrashSafety {
  protected:
    void SetUp() override {
        for (const std::string& folder : {sb.System() + "/UPDATE", sb.Lan() + "/UPDATE"}) {
            std::filesystem::create_directories(folder);
            if (geteuid() != 0 || mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64m") != 0) {
                GTEST_SKIP() << "needs root and a tmpfs mount";
            }
            mounted_.push_back(folder);
        }
        delivery.SetAcrossFileSystems(true);
    }
    ~CrashSafetyAcrossFileSystems() override {
        for (const std::string& folder : mounted_) {
            umount2(folder.c_str(), MNT_DETACH);
        }
    }
    std::vector<std::string> mounted_;
};

TEST_F(CrashSafetyAcrossFileSystems, KilledCopyLeavesNothingTheNextStartDoesNotClear) {
    KillAndFinish(Count("P2_SOAK_KILLS", kDefaultKills) / 3);
}

void CrashSafety::KillAndFinish(int wantedKills) {
    ASSERT_GE(delivery.Items().size(), 200u);
    std::mt19937_64 random(Count("P2_SOAK_SEED", 20240601));
    Launcher launcher(sb, scratch, "run");

    // The uninterrupted reference: how long it takes and how many changes it makes.
    delivery.Lay(sb.Root());
    std::chrono::microseconds duration{0};
    int changes = 0;
    {
        ChangeWatch watch(Watched());
        const auto start = Clock::now();
        const pid_t pid = launcher.Start();
        Outcome outcome;
        changes = watch.CountUntilEnd(launcher, pid, outcome);
        duration = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
        ASSERT_EQ(outcome.exitCode, 0);
        ASSERT_EQ(outcome.output, "");
        const std::vector<std::string> faults = delivery.CheckFinished(sb.Root());
        ASSERT_TRUE(faults.empty()) << "the uninterrupted run:\n" << Join(faults);
    }
    ASSERT_GT(changes, 0);

    int kills = 0;
    int rounds = 0;
    int midPass = 0;      // kills that left some names done and others pending
    int carried = 0;      // kills after the carry-over write but before the move
    int hotJournals = 0;  // kills in the middle of the carry-over write
    int endedFirst = 0;   // starts that ended by themselves before the kill
    std::map<std::string, int> byMode;
    ChangeWatch watch(Watched());
    while (kills < wantedKills && rounds < 4 * wantedKills) {
        ++rounds;
        delivery.Lay(sb.Root());
        std::string roundLog;  // what each kill of the round left, for a failure's message
        const int attempts = 2 + static_cast<int>(random() % 3);
        for (int attempt = 0; attempt < attempts; ++attempt) {
            watch.Drain();
            const pid_t pid = launcher.Start();
            Outcome outcome;
            std::string mode;
            const auto pick = random() % 20;
            if (pick < 9) {
                mode = "timed";
                outcome = launcher.KillAfter(
                    pid, std::chrono::microseconds(random() % (duration.count() + 1)));
            } else if (pick < 18) {
                mode = "nth change";
                outcome = watch.KillAt(launcher, pid, 1 + static_cast<int>(random() % changes));
            } else {
                mode = "carry-over write";
                outcome = watch.KillAt(launcher, pid, 0, std::string(kSettings) + "-journal");
            }
            if (!outcome.killed) {
                ++endedFirst;
                ASSERT_EQ(outcome.exitCode, 0) << outcome.output;
                ASSERT_EQ(outcome.output, "");
                break;
            }
            ++kills;
            ++byMode[mode];
            std::map<State, int> states;
            bool hotJournal = false;
            const std::vector<std::string> faults =
                delivery.CheckAfterKill(sb.Root(), states, hotJournal);
            ASSERT_TRUE(faults.empty())
                << "round " << rounds << ", kill " << attempt + 1 << " (" << mode << "):\n"
                << Join(faults);
            roundLog += "  kill " + std::to_string(attempt + 1) + " (" + mode +
                        "): " + std::to_string(states[State::kUntouched]) + " pending, " +
                        std::to_string(states[State::kCarried]) + " carried, " +
                        std::to_string(states[State::kCopied]) + " copied, " +
                        std::to_string(states[State::kDone]) + " done" +
                        (hotJournal ? ", a journal beside the pending settings\n" : "\n");
            midPass += states[State::kUntouched] > 0 && states[State::kDone] > 0;
            carried += states[State::kCarried];
            if (hotJournal) {
                // The next start must deal with it: let it run to the end.
                ++hotJournals;
                break;
            }
        }
        const Outcome finish = launcher.Run();
        ASSERT_EQ(finish.exitCode, 0) << "round " << rounds;
        ASSERT_EQ(finish.output, "") << "round " << rounds;
        const std::vector<std::string> faults = delivery.CheckFinished(sb.Root());
        ASSERT_TRUE(faults.empty()) << "round " << rounds << ", the start after the kills:\n"
                                    << Join(faults) << roundLog;
    }

    std::ostringstream summary;
    summary << kills << " kills in " << rounds << " rounds (uninterrupted run "
            << duration.count() / 1000 << " ms, " << changes << " changes):";
    for (const auto& [mode, count] : byMode) {
        summary << " " << count << " " << mode << ";";
    }
    summary << " " << midPass << " in mid-pass, " << carried << " after the carry-over write, "
            << hotJournals << " with a journal left, " << endedFirst << " starts ended first";
    std::cout << summary.str() << std::endl;
    RecordProperty("summary", summary.str());
    EXPECT_GE(kills, wantedKills);
    EXPECT_GT(midPass, 0);
}

}  // namespace
}  // namespace p2::stress
