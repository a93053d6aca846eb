#include "core/launch/launch_gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using Kind = core::LoginResult::Kind;

TEST(LaunchGate, LoginBeforeReadinessLaunchesAtReadiness)
{
    core::LaunchGate gate;
    const auto step = gate.Login(L"true|abc");
    EXPECT_EQ(step.kind, Kind::Accepted);
    EXPECT_FALSE(step.launch);
    EXPECT_TRUE(gate.Ready());
    EXPECT_EQ(gate.Parameters(), L"abc");
}

TEST(LaunchGate, ReadinessBeforeLoginLaunchesAtLogin)
{
    core::LaunchGate gate;
    EXPECT_FALSE(gate.Ready());
    EXPECT_TRUE(gate.IsReady());
    const auto step = gate.Login(L"token-from-elsewhere");
    EXPECT_EQ(step.kind, Kind::ThirdParty);
    EXPECT_TRUE(step.launch);
    EXPECT_EQ(gate.Parameters(), L"token-from-elsewhere");
}

TEST(LaunchGate, RejectedAndEmptyResultsLeaveTheWayOpen)
{
    core::LaunchGate gate;
    gate.Ready();
    EXPECT_EQ(gate.Login(L"").kind, Kind::Empty);
    const auto rejected = gate.Login(L"false|x");
    EXPECT_EQ(rejected.kind, Kind::Rejected);
    EXPECT_FALSE(rejected.launch);
    EXPECT_FALSE(gate.IsLoggedIn());

    const auto accepted = gate.Login(L"true|y");
    EXPECT_EQ(accepted.kind, Kind::Accepted);
    EXPECT_TRUE(accepted.launch);
    EXPECT_EQ(gate.Parameters(), L"y");
}

TEST(LaunchGate, ASecondLoginChangesNothing)
{
    core::LaunchGate gate;
    gate.Ready();
    EXPECT_TRUE(gate.Login(L"true|first").launch);
    const auto again = gate.Login(L"true|second");
    EXPECT_TRUE(again.alreadyLoggedIn);
    EXPECT_FALSE(again.launch);
    EXPECT_EQ(gate.Parameters(), L"first");
}

TEST(LaunchGate, LoginAndReadinessAtTheSameMomentLaunchExactlyOnce)
{
    for (int round = 0; round < 2000; ++round) {
        core::LaunchGate gate;
        std::atomic<int> go{0};
        std::atomic<int> launches{0};
        std::thread update([&] {
            while (!go.load()) {}
            if (gate.Ready()) ++launches;
        });
        std::thread page([&] {
            while (!go.load()) {}
            if (gate.Login(L"true|p").launch) ++launches;
        });
        go = 1;
        update.join();
        page.join();
        ASSERT_EQ(launches.load(), 1) << "round " << round;
    }
}

}  // namespace
