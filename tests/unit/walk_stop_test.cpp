// Closing the launcher while the package is unpacked: the launcher's stop reaches the walk's
// workers, which end within one block and remove the files under way; the launcher waits for
// that, for a bounded time.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/unit/extraction_fixture.h"

namespace {

using namespace extraction_test;

constexpr std::chrono::milliseconds kShortWait{50};
constexpr std::chrono::seconds kLongWait{30};

TEST_F(PackageExtraction, TheLauncherStopEndsTheWalkAndLeavesOnlyWholeFiles)
{
    const std::string big = testing_support::NoiseBytes(2u << 20, 41);
    // In the package's order; on several workers big.bin is handed out first.
    const std::vector<ZipEntry> entries{
        {"first.txt", "1"}, {"big.bin", big}, {"later.txt", "2"}, {"more/last.txt", "3"}};
    const std::map<std::string, std::string> small{{"first.txt", "1"}, {"later.txt", "2"}, {"more/last.txt", "3"}};

    for (const unsigned count : {1u, 2u, 8u}) {
        SCOPED_TRACE(std::to_string(count) + " workers");
        ASSERT_TRUE(Repack(entries));
        TestHost stalling;
        stalling.stallName = L"big.bin";
        core::PipelineState running;
        SameThreadWindow shown;
        auto ctx = ContextOn(stalling, running, &shown, count);
        bool heldWhileWriting = false;
        bool endedAfterTheBlock = false;
        // The window closes while big.bin waits in its first write.
        std::thread closer([&] {
            const std::wstring bigTarget = Wide(client / "big.bin");
            WaitUntil([&] {
                const std::vector<std::wstring> opened = stalling.Opened();
                return std::find(opened.begin(), opened.end(), bigTarget) != opened.end();
            });
            running.stop.Request();
            // A write that does not return holds the launcher's wait no longer than its bound.
            heldWhileWriting = !running.stop.WaitForWalk(kShortWait);
            stalling.stallGate.Open();
            endedAfterTheBlock = running.stop.WaitForWalk(kLongWait);
        });

        EXPECT_FALSE(core::UnzipFile(ctx, Wide(package), nullptr));
        closer.join();

        EXPECT_TRUE(heldWhileWriting);
        EXPECT_TRUE(endedAfterTheBlock);
        EXPECT_TRUE(running.stop.WaitForWalk(std::chrono::milliseconds(0)));
        EXPECT_TRUE(stalling.HasLine(L"INFO", L"entry big.bin abandoned: the walk stopped"));
        EXPECT_TRUE(stalling.HasLine(L"INFO", L"unzip stopped: the launcher is closing"));
        // Closing is not a failed unpack: no "解压失败", no failure report, no completion.
        EXPECT_FALSE(stalling.HasLine(L"ERROR", L"unzip is error!"));
        for (const auto& report : stalling.Reports()) EXPECT_NE(report, L"message:game unzip failed");
        // The entries finished before the stop, counted one by one; nothing after them.
        const auto calls = shown.Calls();
        const int finished = static_cast<int>(calls.size() / 2);
        EXPECT_LT(finished, 4);
        std::vector<int> percents;
        for (int k = 1; k <= finished; ++k) percents.push_back(k * 25);
        EXPECT_EQ(calls, EntryProgress(4, percents));
        EXPECT_TRUE(stalling.DesktopSteps().empty());
        EXPECT_TRUE(fs::exists(package));
        EXPECT_FALSE(fs::exists(client / "game_client_version.txt"));
        EXPECT_FALSE(fs::exists(client / "big.bin"));
        ExpectOnlyWholeFiles(small);
        if (count == 1) {
            // One by one: first.txt was finished before the stop, the entries after big.bin never start.
            EXPECT_EQ(Slurp(client / "first.txt"), "1");
            EXPECT_EQ(stalling.Opened(), (std::vector<std::wstring>{Wide(client / "first.txt"), Wide(client / "big.bin")}));
        }
    }
}

TEST_F(PackageExtraction, AStopBeforeTheWalkWritesNothing)
{
    ASSERT_TRUE(Pack({{"data/", ""}, {"data/a.txt", "a"}, {"b.txt", "b"}}));
    state.stop.Request();

    EXPECT_FALSE(Unzip());

    EXPECT_TRUE(host.HasLine(L"INFO", L"unzip stopped: the launcher is closing"));
    EXPECT_TRUE(fs::is_empty(client));
    EXPECT_TRUE(fs::exists(package));
    EXPECT_TRUE(window.Calls().empty());
    EXPECT_TRUE(state.stop.WaitForWalk(std::chrono::milliseconds(0)));
}

}  // namespace
