// The package walk on several threads: how many there are, which entries go first, that a
// large archive arrives whole with its progress counted one by one, and what a failure does to
// the entries under way and to those not started.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/update/unzip_workers.h"
#include "tests/unit/extraction_fixture.h"

namespace {

using namespace extraction_test;

TEST(UnzipWorkerCount, OnePerHardwareThreadAtMostEight)
{
    const std::pair<unsigned, unsigned> cases[] = {{0, 1}, {1, 1}, {2, 2}, {7, 7}, {8, 8}, {9, 8}, {64, 8}};
    for (const auto& [hardware, workers] : cases) EXPECT_EQ(core::UnzipWorkerCount(hardware), workers) << hardware;
}

// A client-shaped archive: folders with and without entries of their own, UTF-8 and plain names,
// stored and deflated entries of very different sizes, empty files.
std::vector<ZipEntry> ClientShapedEntries(std::map<std::string, std::string>& files)
{
    std::vector<ZipEntry> entries{{"bin/", ""}, {"data/", ""}, {"data/maps/", ""}};
    for (int i = 0; i < 120; ++i) {
        const std::string folder = i % 3 == 0 ? "data/maps/" : i % 3 == 1 ? "data/\u8d44\u6e90/" : "sounds/";
        const std::string name = folder + "item" + std::to_string(i) + (i % 2 ? ".bin" : ".txt");
        const std::size_t size = static_cast<std::size_t>(i % 7 == 0 ? 0 : (i * 7919) % 40000);
        std::string data = i % 2 ? testing_support::NoiseBytes(size, static_cast<unsigned>(i))
                                 : testing_support::TextBytes(size, static_cast<unsigned>(i));
        files[name] = data;
        ZipEntry entry{name, std::move(data), i % 5 != 0};
        entry.flags = 0x800;
        entries.push_back(std::move(entry));
    }
    for (int i = 0; i < 3; ++i) {
        const std::string name = "bin/big" + std::to_string(i) + ".pak";
        files[name] = testing_support::NoiseBytes((1u << 20) + static_cast<std::size_t>(i) * 4099, 100u + i);
        entries.push_back({name, files[name], i != 1});
    }
    return entries;
}

TEST_F(PackageExtraction, AClientShapedArchiveArrivesWholeWithAnyNumberOfWorkers)
{
    std::map<std::string, std::string> files;
    const std::vector<ZipEntry> entries = ClientShapedEntries(files);
    const int total = static_cast<int>(entries.size());
    std::vector<int> percents;
    for (int k = 1; k <= total; ++k) percents.push_back(k * 100 / total);
    state.remoteConfig[L"ClientVersion"] = L"2.1.0.0";

    for (const unsigned count : {1u, 2u, 3u, 8u}) {
        SCOPED_TRACE(std::to_string(count) + " workers");
        fs::remove_all(client);
        fs::create_directories(client);
        ASSERT_TRUE(Pack(entries));
        SameThreadWindow shown;
        auto ctx = Context(&shown);
        ctx.unzipWorkers = count;

        ASSERT_TRUE(core::UnzipFile(ctx, Wide(package), nullptr)) << ErrorsText();

        for (const auto& [name, data] : files) EXPECT_EQ(Slurp(client / fs::u8path(name)), data) << name;
        EXPECT_EQ(shown.Calls(), Concat(EntryProgress(total, percents), kCompletion));
        EXPECT_FALSE(shown.CalledFromOtherThreads());
        EXPECT_EQ(Slurp(client / "game_client_version.txt"), "2.1.0.0");
    }
}

// With several workers the large entries are handed out first, largest first, and the others
// in the archive's order; with one, every entry in the archive's order (it reads the package
// front to back). Every file is held at its first write until two have been opened, so the
// first two files opened are exactly the first two entries handed out.
TEST_F(PackageExtraction, SeveralWorkersTakeTheLargeEntriesFirst)
{
    const auto firstTwoOpened = [&](const std::vector<ZipEntry>& entries, unsigned count) {
        fs::remove_all(client);
        fs::create_directories(client);
        EXPECT_TRUE(Pack(entries));
        TestHost stalling;
        stalling.stallName = L".dat";
        core::UpdateContext ctx{stalling, state, nullptr,
                                core::PipelinePaths{Wide(install), Wide(client), L"qorn", L"palmet", L"qorn"}};
        ctx.unzipWorkers = count;
        std::vector<std::wstring> firstTwo;
        std::thread watcher([&] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (stalling.Opened().size() < std::min(2u, count) && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            // Held at the gate, no worker can open another file before this look.
            firstTwo = stalling.Opened();
            stalling.stallGate.Open();
        });
        EXPECT_TRUE(core::OnUnzipFile(ctx, Wide(package)));
        watcher.join();
        return std::set<std::wstring>(firstTwo.begin(), firstTwo.end());
    };
    const auto opened = [&](std::initializer_list<const char*> names) {
        std::set<std::wstring> paths;
        for (const char* name : names) paths.insert(Wide(client / name));
        return paths;
    };

    // Growing sizes in the archive's order: small ones first, the two large ones last.
    std::vector<ZipEntry> entries;
    for (int i = 1; i <= 4; ++i)
        entries.push_back({"f" + std::to_string(i) + ".dat", testing_support::NoiseBytes(10000u * i, 7u + i)});
    entries.push_back({"f5.dat", testing_support::NoiseBytes(core::kLargeEntryBytes, 12u)});
    entries.push_back({"f6.dat", testing_support::NoiseBytes(core::kLargeEntryBytes + 10000u, 13u)});

    EXPECT_EQ(firstTwoOpened(entries, 2), opened({"f6.dat", "f5.dat"}));
    EXPECT_EQ(firstTwoOpened(entries, 1), opened({"f1.dat"}));
    // Without large entries, several workers start at the front of the archive, not at its
    // largest entries.
    entries.resize(4);
    EXPECT_EQ(firstTwoOpened(entries, 2), opened({"f1.dat", "f2.dat"}));
}

// One entry fails while another, larger one is being written: the larger one is abandoned and
// its file removed, the failing entry's file is removed, and the entries not yet started never
// start. The large entry's first write waits until the failure has been logged, so it is
// certainly under way when the walk stops.
TEST_F(PackageExtraction, AFailureAbandonsTheEntriesUnderWayAndStartsNoOther)
{
    const std::string payload = testing_support::TextBytes(100000, 3);
    ZipEntry bad{"bad.txt", testing_support::RawDeflate(payload), true};
    bad.raw = true;
    bad.rawCrc = testing_support::Crc32(payload) ^ 1u;
    bad.rawSize = static_cast<unsigned long>(payload.size());
    // Handed out: the large big.bin, then the others in the archive's order.
    ASSERT_TRUE(Pack({bad,
                      {"later1.txt", "1"},
                      {"big.bin", testing_support::NoiseBytes(2u << 20, 5)},
                      {"folder/later2.txt", "2"}}));
    host.stallName = L"big.bin";
    auto ctx = Context(&window);
    ctx.unzipWorkers = 2;

    EXPECT_FALSE(core::UnzipFile(ctx, Wide(package), nullptr));

    ExpectFailedRun();
    EXPECT_EQ(window.Calls(), kFailure);  // nothing finished
    EXPECT_TRUE(HasErrorContaining(L"CRC error in entry bad.txt")) << ErrorsText();
    EXPECT_TRUE(host.HasLine(L"INFO", L"entry big.bin abandoned: the walk stopped"));
    // Folders are made before any file; files: none at all.
    EXPECT_TRUE(fs::is_directory(client / "folder"));
    ExpectOnlyWholeFiles({});
    // Only the two entries handed out first were started.
    const std::vector<std::wstring> opened = host.Opened();
    EXPECT_EQ(std::set<std::wstring>(opened.begin(), opened.end()),
              (std::set<std::wstring>{Wide(client / "big.bin"), Wide(client / "bad.txt")}));
    EXPECT_EQ(opened.size(), 2u);
}

// A failure in the middle of a larger archive on several workers: the walk fails as it does on
// one, names the entry, keeps the package, and leaves only whole files.
TEST_F(PackageExtraction, AFailureInTheMiddleOnSeveralWorkersLeavesOnlyWholeFiles)
{
    std::map<std::string, std::string> files;
    std::vector<ZipEntry> entries = ClientShapedEntries(files);
    ZipEntry cut{"data/cut.bin", std::string(5000, 'c'), false};
    cut.raw = true;
    cut.rawCrc = testing_support::Crc32(std::string(5000, 'c'));
    cut.rawSize = 9000;  // declares more than it holds
    entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(entries.size() / 2), cut);
    ASSERT_TRUE(Pack(entries));
    auto ctx = Context(&window);
    ctx.unzipWorkers = 3;

    EXPECT_FALSE(core::UnzipFile(ctx, Wide(package), nullptr));

    ExpectFailedRun();
    EXPECT_TRUE(HasErrorContaining(L"entry data/cut.bin has 5000 bytes, the archive declares 9000")) << ErrorsText();
    ExpectCountedProgressThenFailure(static_cast<int>(entries.size()));
    ExpectOnlyWholeFiles(files);
}

}  // namespace
