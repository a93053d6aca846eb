#include "core/update/archive_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "core/update/entry_copy.h"
#include "core/update/posix_update_host.h"
#include "tests/unit/extraction_fixture.h"

namespace {

using namespace extraction_test;

// Entries on either side of the copy block's size, in both storage methods: those that fit
// are inflated whole, the others stream through a block at a time.
TEST_F(PackageExtraction, EntriesAroundTheBlockSizeArriveWholeInBothMethods)
{
    constexpr std::size_t kBlock = core::CopyBuffers::kBlockBytes;
    const std::vector<ZipEntry> entries{
        {"text-block.txt", testing_support::TextBytes(kBlock, 11)},
        {"text-block-plus-1.txt", testing_support::TextBytes(kBlock + 1, 12)},
        {"text-large.txt", testing_support::TextBytes(5 * kBlock + 17, 13)},
        {"noise-block.bin", testing_support::NoiseBytes(kBlock, 14)},
        {"noise-large.bin", testing_support::NoiseBytes(3 * kBlock - 5, 15)},
        {"stored-block-plus-1.bin", testing_support::NoiseBytes(kBlock + 1, 16), false},
        {"stored-large.bin", testing_support::NoiseBytes(4 * kBlock + 3, 17), false},
        {"empty.txt", ""},
        {"empty-stored.txt", "", false},
    };
    ASSERT_TRUE(Pack(entries));
    EXPECT_TRUE(Unzip()) << ErrorsText();
    for (const ZipEntry& e : entries) EXPECT_EQ(Slurp(client / e.name), e.data) << e.name;
}

// The layer minizip reads the package through: whatever it holds in its windows, every read
// gives the file's bytes at its offset.
class ArchiveFileReads : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = fs::path(::testing::TempDir()) / ("archive-file-" + std::to_string(::getpid()) + ".bin");
        bytes = testing_support::NoiseBytes(200000, 21);
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        zlib_filefunc64_def platform{};
        void* stream = host.OpenArchiveStream(core::Utf8ToWide(path.string()), platform);
        ASSERT_NE(stream, nullptr);
        file = std::make_unique<core::ArchiveFile>(platform, stream);
    }
    void TearDown() override
    {
        file.reset();
        fs::remove(path);
    }
    void ExpectRead(std::uint64_t offset, std::size_t size)
    {
        std::string got(size, '\0');
        ASSERT_TRUE(file->ReadAt(offset, &got[0], size)) << offset << "+" << size;
        EXPECT_TRUE(got == bytes.substr(offset, size)) << offset << "+" << size;
    }

    core::PosixUpdateHost host;
    fs::path path;
    std::string bytes;
    std::unique_ptr<core::ArchiveFile> file;
};

TEST_F(ArchiveFileReads, GiveTheFileBytesWhereverTheWindowsStand)
{
    constexpr std::size_t kWindow = core::ArchiveFile::kWindowBytes;
    // Small reads in a row, then across a window's end, far away and back (both windows in use),
    // a third place (the older window goes), reads of a window's size and more, and one that
    // begins inside a window and runs past it.
    const std::vector<std::pair<std::uint64_t, std::size_t>> reads{
        {0, 4},          {4, 2},          {6, 26},          {kWindow - 3, 10}, {190000, 30}, {8, 100},
        {190010, 4},     {100000, 46},    {190020, 2},      {50000, kWindow},  {1000, 3 * kWindow},
        {100040, 20000}, {199990, 10},    {0, 200000},
    };
    for (const auto& [offset, size] : reads) ExpectRead(offset, size);
}

TEST_F(ArchiveFileReads, FailPastTheEndOfTheFile)
{
    std::string got(64, '\0');
    EXPECT_FALSE(file->ReadAt(199990, &got[0], 11));
    EXPECT_FALSE(file->ReadAt(200000, &got[0], 1));
    EXPECT_TRUE(file->ReadAt(200000, &got[0], 0));
    ExpectRead(199989, 11);
}

// minizip's view: its seeks and tells, including from the end, over the windows.
TEST_F(ArchiveFileReads, FollowMinizipsSeeksAndTells)
{
    const zlib_filefunc64_def f = file->FileFunctions();
    void* stream = f.zopen64_file(f.opaque, "", ZLIB_FILEFUNC_MODE_READ);
    ASSERT_EQ(f.zseek64_file(f.opaque, stream, 22, ZLIB_FILEFUNC_SEEK_END), 0);
    EXPECT_EQ(f.ztell64_file(f.opaque, stream), 200022u);
    ASSERT_EQ(f.zseek64_file(f.opaque, stream, static_cast<ZPOS64_T>(-44), ZLIB_FILEFUNC_SEEK_CUR), 0);
    char got[30];
    ASSERT_EQ(f.zread_file(f.opaque, stream, got, 22), 22u);
    EXPECT_EQ(std::string(got, 22), bytes.substr(199978, 22));
    EXPECT_EQ(f.zread_file(f.opaque, stream, got, 30), 0u);
    ASSERT_EQ(f.zseek64_file(f.opaque, stream, 7, ZLIB_FILEFUNC_SEEK_SET), 0);
    ASSERT_EQ(f.zread_file(f.opaque, stream, got, 30), 30u);
    EXPECT_EQ(std::string(got, 30), bytes.substr(7, 30));
    EXPECT_EQ(f.ztell64_file(f.opaque, stream), 37u);
    EXPECT_EQ(f.zerror_file(f.opaque, stream), 0);
}

}  // namespace
