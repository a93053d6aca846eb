// The publisher as it runs for a studio on Windows: a game tree in folders with Chinese names
// (wide paths throughout) packed and read back by the launcher's package walk on Windows, and a
// file larger than 4 GiB (written sparsely, so it costs little disk) packed with zip64 records
// and unpacked whole.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "core/publish/publish_channel.h"
#include "core/publish/publish_files.h"
#include "core/update/package_extraction.h"
#include "fw/text.h"
#include "fw/win_handle.h"
#include "tests/win/win_pipeline_support.h"
#include "tests/win/win_test_support.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::wstring& path)
{
    const auto bytes = wintest::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

std::uint64_t SizeOf(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

// A file of the given size with nothing written: the file system keeps it as a hole.
bool MakeSparse(const std::wstring& path, std::uint64_t size)
{
    fw::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    return file && SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) && SetEndOfFile(file.get());
}

class PublisherOnWindows : public ::testing::Test {
protected:
    void SetUp() override
    {
        game = dir.path() + L"\\\u6e38\u620f";    // 游戏
        out = dir.path() + L"\\\u53d1\u5e03";     // 发布
        client = dir.path() + L"\\client";
        ASSERT_TRUE(CreateDirectoryW(game.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(client.c_str(), nullptr));
    }

    bool Publish()
    {
        core::PublishRequest request;
        request.gameDir = fs::path(game);
        request.outDir = fs::path(out);
        request.gameCode = "qorn";
        request.channel = "palmet";
        request.version = "1.0.0.1";
        request.baseUrl = "http://127.0.0.1:1";
        return core::PublishChannel(request, summary, error);
    }

    bool Unpack()
    {
        core::UpdateContext ctx{host, state, nullptr, core::PipelinePaths{dir.path(), client, L"qorn", L"palmet", L"qorn"}};
        return core::OnUnzipFile(ctx, out + L"\\" + fw::Utf8ToWide(summary.packagePath));
    }

    std::wstring Log() const
    {
        std::wstring text;
        for (const auto& line : host.lines) text += line + L"\n";
        return text;
    }

    wintest::TempDir dir{L"publish"};
    std::wstring game, out, client;
    core::PublishSummary summary;
    std::string error;
    wintest::RecordingHost host;
    core::PipelineState state;
};

TEST_F(PublisherOnWindows, ATreeWithChineseNamesComesBackThroughTheWalk)
{
    const std::wstring data = game + L"\\\u8d44\u6599";  // 资料
    ASSERT_TRUE(CreateDirectoryW(data.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((game + L"\\\u0e44\u0e17\u0e22").c_str(), nullptr));  // Thai, empty
    ASSERT_TRUE(wintest::WriteFileBytes(game + L"\\qorn.exe", "MZ game"));
    ASSERT_TRUE(wintest::WriteFileBytes(data + L"\\\u8bf4\u660e.txt", std::string(100000, 'x')));  // 说明.txt

    ASSERT_TRUE(Publish()) << error;
    EXPECT_EQ(summary.files, 2u);
    ASSERT_TRUE(Unpack()) << fw::WideToUtf8(Log());
    EXPECT_EQ(ReadAll(client + L"\\qorn\\qorn.exe"), "MZ game");
    EXPECT_EQ(ReadAll(client + L"\\qorn\\\u8d44\u6599\\\u8bf4\u660e.txt"), std::string(100000, 'x'));
    EXPECT_NE(GetFileAttributesW((client + L"\\qorn\\\u0e44\u0e17\u0e22").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(PublisherOnWindows, AFileLargerThan4GiBIsPackedWithZip64AndUnpackedWhole)
{
    constexpr std::uint64_t kLarge = (std::uint64_t{1} << 32) + 4097;
    ULARGE_INTEGER free{};
    ASSERT_TRUE(GetDiskFreeSpaceExW(client.c_str(), &free, nullptr, nullptr));
    if (free.QuadPart < kLarge + (std::uint64_t{1} << 30))
        GTEST_SKIP() << "the large file needs " << kLarge << " bytes of disk unpacked, " << free.QuadPart << " are free";
    ASSERT_TRUE(wintest::WriteFileBytes(game + L"\\qorn.exe", "MZ game"));
    ASSERT_TRUE(MakeSparse(game + L"\\large.bin", kLarge));
    ASSERT_TRUE(wintest::WriteFileBytes(game + L"\\z_after.txt", "after the large entry"));

    ASSERT_TRUE(Publish()) << error;
    ASSERT_TRUE(Unpack()) << fw::WideToUtf8(Log());
    EXPECT_EQ(SizeOf(client + L"\\qorn\\large.bin"), kLarge);
    EXPECT_EQ(ReadAll(client + L"\\qorn\\qorn.exe"), "MZ game");
    EXPECT_EQ(ReadAll(client + L"\\qorn\\z_after.txt"), "after the large entry");
}

}  // namespace
