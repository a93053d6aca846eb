// Where the walk's entries land: entries whose names Windows takes for one file, a name that is
// both a file and a folder, and the room the entries need beside the files they replace.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "core/update/unzip_workers.h"
#include "tests/unit/extraction_fixture.h"

namespace {

using namespace extraction_test;

// Every file below the client folder with its content, by its path there.
std::map<std::string, std::string> ClientFiles(const fs::path& client)
{
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(client))
        if (e.is_regular_file()) files[fs::relative(e.path(), client).string()] = Slurp(e.path()).value_or("?");
    return files;
}

// Each file by its size and check value: a mixed or cut file shows without printing megabytes.
std::map<std::string, std::string> Fingerprints(const std::map<std::string, std::string>& files)
{
    std::map<std::string, std::string> prints;
    for (const auto& [name, data] : files)
        prints[name] = std::to_string(data.size()) + " bytes, CRC " + std::to_string(testing_support::Crc32(data));
    return prints;
}

// Two entries that Windows writes to one file. Only the later one is unpacked, as a walk that
// writes one entry after the other leaves it; the earlier one counts as done.
struct Twins {
    const char* what;
    std::string first;
    std::string second;
};

void PrintTo(const Twins& c, std::ostream* os) { *os << c.what; }

class TwinEntries : public PackageExtraction, public ::testing::WithParamInterface<Twins> {};

// The earlier twin is large (handed out first on several workers) and held at its first write
// until the later one has been opened, so on several workers the two would be written at once.
TEST_P(TwinEntries, OnlyTheLaterIsWrittenOnAnyNumberOfWorkers)
{
    const Twins& twins = GetParam();
    const std::string earlier = testing_support::NoiseBytes(2u << 20, 21);
    const std::string later = testing_support::NoiseBytes(10000, 22);
    const std::vector<ZipEntry> entries{{twins.first, earlier}, {twins.second, later}, {"other.txt", "other"}};
    const std::wstring laterTarget = Wide(client / fs::u8path(twins.second));

    for (const unsigned count : {1u, 2u, 8u}) {
        SCOPED_TRACE(std::to_string(count) + " workers");
        ASSERT_TRUE(Repack(entries));
        TestHost stalling;
        stalling.stallName = core::Utf8ToWide(twins.first);
        SameThreadWindow shown;
        auto ctx = ContextOn(stalling, state, &shown, count);
        std::thread watcher([&] {
            WaitUntil([&] {
                const std::vector<std::wstring> opened = stalling.Opened();
                if (count == 1) return !opened.empty();
                return opened.size() >= 2 && std::find(opened.begin(), opened.end(), laterTarget) != opened.end();
            });
            stalling.stallGate.Open();
        });
        const bool unpacked = core::OnUnzipFile(ctx, Wide(package));
        watcher.join();

        ASSERT_TRUE(unpacked);
        const std::map<std::string, std::string> expected{{fs::u8path(twins.second).string(), later},
                                                          {"other.txt", "other"}};
        EXPECT_EQ(Fingerprints(ClientFiles(client)), Fingerprints(expected));
        EXPECT_EQ(shown.Calls(), EntryProgress(3, {33, 66, 100}));
        int warnings = 0;
        for (const auto& line : stalling.Lines())
            if (line.level == L"WARN" && line.text.find(core::Utf8ToWide(twins.first)) != std::wstring::npos) ++warnings;
        EXPECT_EQ(warnings, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, TwinEntries,
    ::testing::Values(Twins{"the same name", "dup.bin", "dup.bin"},
                      Twins{"letter case", "Data/Dup.BIN", "data/dUP.bin"},
                      Twins{"backslash for slash", "data/dup.bin", "data\\dup.bin"},
                      Twins{"trailing dot", "dup.bin.", "dup.bin"},
                      Twins{"trailing blanks and dots", "dup.bin", "dup.bin . "},
                      Twins{"folder with a trailing dot", "data./dup.bin", "data/dup.bin"},
                      Twins{"accented capitals", "\xc3\x89t\xc3\xa9.bin", "\xc3\xa9T\xc3\x89.bin"},
                      Twins{"Cyrillic capitals", "\xd0\x94\xd0\xb0.bin", "\xd0\xb4\xd0\x90.bin"}));

// A name that is a file for one entry and a folder for another cannot be unpacked whole in any
// order: the package is refused before anything is written.
struct FileAndFolder {
    const char* what;
    std::vector<std::string> names;
};

void PrintTo(const FileAndFolder& c, std::ostream* os) { *os << c.what; }

class FileAndFolderEntries : public PackageExtraction, public ::testing::WithParamInterface<FileAndFolder> {};

TEST_P(FileAndFolderEntries, AreRefusedBeforeAnythingIsWritten)
{
    std::vector<ZipEntry> entries{{"first.txt", "1"}};
    for (const std::string& name : GetParam().names) entries.push_back({name, name.back() == '/' ? "" : "x"});
    ASSERT_TRUE(Pack(entries));

    EXPECT_FALSE(Unzip());

    ExpectFailedRun();
    EXPECT_EQ(window.Calls(), kFailure);
    EXPECT_TRUE(HasErrorContaining(L"is both a file and a folder")) << ErrorsText();
    EXPECT_TRUE(fs::is_empty(client)) << "nothing is written before the check";
}

INSTANTIATE_TEST_SUITE_P(
    Table, FileAndFolderEntries,
    ::testing::Values(FileAndFolder{"a file, then its directory entry", {"a", "a/"}},
                      FileAndFolder{"a directory entry, then the file", {"a/", "a"}},
                      FileAndFolder{"a file, then a file inside it", {"a", "a/b.txt"}},
                      FileAndFolder{"a file inside, then the file", {"a/b/c.txt", "a/b"}},
                      FileAndFolder{"in another letter case", {"A/b.txt", "a"}},
                      FileAndFolder{"with a backslash and a trailing dot", {"a\\b.txt", "a."}}));

// The entries replace the files of an earlier install: only what they add to those must fit.
TEST_F(PackageExtraction, FilesThatAnEntryReplacesMakeRoomForIt)
{
    const std::string big = testing_support::NoiseBytes(3u << 20, 31);
    const std::string grown = testing_support::NoiseBytes(200000, 32);
    const std::string small = testing_support::NoiseBytes(1000, 33);
    // One file as large as its entry, one smaller, one larger than its entry: credited only up to
    // what its entry needs, it makes no room for the others.
    const std::int64_t grownBefore = 150000;
    const std::int64_t need = static_cast<std::int64_t>(grown.size()) - grownBefore +
                              static_cast<std::int64_t>(small.size()) + 3 * core::kUnpackSlackPerFile;

    struct Case {
        const char* what;
        std::int64_t freeBytes;
        bool unpacks;
    };
    // The refusal first: a run that unpacks deletes the package and takes the desktop steps.
    const Case cases[] = {
        {"one byte short", need - 1, false},
        {"exactly what the entries add", need, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(Pack({{"data/", ""}, {"data/big.pak", big}, {"grown.bin", grown}, {"new.bin", small}}));
        fs::remove_all(client);
        fs::create_directories(client / "data");
        Put(client / "data" / "big.pak", std::string(big.size(), 'o'));
        Put(client / "grown.bin", std::string(static_cast<std::size_t>(grownBefore), 'o'));
        Put(client / "new.bin.keep", std::string(1u << 20, 'o'));  // no entry of that name: no credit
        const std::map<std::string, std::string> before = ClientFiles(client);
        host.freeBytes = c.freeBytes;

        EXPECT_EQ(Unzip(), c.unpacks) << ErrorsText();
        if (c.unpacks) {
            EXPECT_EQ(Slurp(client / "data" / "big.pak"), big);
            EXPECT_EQ(Slurp(client / "grown.bin"), grown);
            EXPECT_EQ(Slurp(client / "new.bin"), small);
            continue;
        }
        ExpectFailedRun();
        EXPECT_TRUE(HasErrorContaining(L"the entries need " + std::to_wstring(need) + L" bytes")) << ErrorsText();
        EXPECT_EQ(ClientFiles(client), before) << "nothing is written before the check";
    }
}

}  // namespace
