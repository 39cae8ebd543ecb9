// Two launchers released at the same moment on one delivery: one runs the update pass and
// starts Access, the other ends silently at the previous-instance test.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <thread>

#include "Delivery.h"
#include "Launch.h"
#include "Sandbox.h"
#include "StressCounts.h"

namespace p2::stress {
namespace {

TEST(ConcurrentStart, OnlyOneOfTwoLaunchersStartedTogetherRunsTheUpdate) {
    e2e::Sandbox sb;  // one runtime folder, shared by both launchers of every round
    const std::string scratch = sb.Root() + "/scratch";
    std::filesystem::create_directories(scratch);
    e2e::Sandbox::MakeDatabase(sb.Program() + "/main.mdb", "1");
    const Delivery delivery(scratch, 60);
    int replaced = 0;
    for (const Item& item : delivery.Items()) {
        replaced += item.replaces;
    }
    const int rounds = Count("P2_SOAK_ROUNDS", kDefaultConcurrentRounds);
    ChangeWatch moves({sb.System(), sb.Lan()}, true);

    for (int round = 1; round <= rounds; ++round) {
        delivery.Lay(sb.Root());
        moves.Drain();
        // Own record files each round: a late Access of one round cannot count in the next.
        Launcher first(sb, scratch, "a" + std::to_string(round));
        Launcher second(sb, scratch, "b" + std::to_string(round));
        Gate gate;
        const pid_t a = first.Start(&gate);
        const pid_t b = second.Start(&gate);
        gate.Open();
        const Outcome ea = first.Wait(a);
        const Outcome eb = second.Wait(b);
        ASSERT_EQ(ea.exitCode, 0) << "round " << round;
        ASSERT_EQ(eb.exitCode, 0) << "round " << round;
        ASSERT_EQ(ea.output, "") << "round " << round;
        ASSERT_EQ(eb.output, "") << "round " << round;

        // The winner's Access comes shortly after its end; then the loser's would have too.
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!first.AccessStarted(false) && !second.AccessStarted(false) &&
               std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_TRUE(first.AccessStarted(false) || second.AccessStarted(false))
            << "round " << round << ": neither started Access";
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_NE(first.AccessStarted(false), second.AccessStarted(false))
            << "round " << round << ": both ran the update pass and started Access";

        const std::vector<std::string> faults = delivery.CheckFinished(sb.Root());
        ASSERT_TRUE(faults.empty()) << "round " << round << ":\n" << faults.front();
        // Every newer file moved in once, none twice.
        moves.Collect();
        int moved = 0;
        for (const auto& [name, count] : moves.MovesInto()) {
            EXPECT_EQ(count, 1) << "round " << round << ": " << name << " moved " << count
                                << " times";
            moved += count;
        }
        EXPECT_EQ(moved, replaced) << "round " << round;
    }
    std::cout << rounds << " rounds of two launchers started together" << std::endl;
}

}  // namespace
}  // namespace p2::stress
