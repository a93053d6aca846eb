// The package walk on Windows: wide paths with Chinese folder names, entry names in the ANSI
// code page (936 under the test runner's zh_CN locale), backslash paths, and the version
// record. The Windows update host does the file work; its log, reports and desktop steps are
// recorded instead, so the test needs no server and touches no shortcut or registry key.
// Every test runs with one worker and with several.
#include <windows.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "core/update/package_extraction.h"
#include "fw/text.h"
#include "fw/win_handle.h"
#include "tests/support/raw_zip.h"
#include "tests/win/win_pipeline_support.h"
#include "tests/win/win_test_support.h"
#include "update/windows_update_host.h"

namespace {

using wintest::RecordingHost;
using testing_support::RawZip;

std::string Ansi(const std::wstring& text) { return fw::WideToAnsi(text); }

std::string ReadAll(const std::wstring& path)
{
    const auto bytes = wintest::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class ExtractionOnWindows : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The entry names below only survive the ANSI code page the players' machines have.
        ASSERT_EQ(GetACP(), 936u) << "run under the zh_CN locale (scripts/winerun.py does)";
        install = dir.path() + L"\\\u6e38\u620f\u5b89\u88c5";  // 游戏安装
        client = install + L"\\client";
        package = install + L"\\qorn.zip";
        ASSERT_TRUE(CreateDirectoryW(install.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(client.c_str(), nullptr));
    }

    bool Unzip()
    {
        core::UpdateContext ctx{host, state, nullptr, core::PipelinePaths{install, client, L"qorn", L"palmet", L"qorn"}};
        ctx.unzipWorkers = workers;
        return core::UnzipFile(ctx, package, nullptr);
    }

    unsigned workers = 1;
    wintest::TempDir dir{L"unzip"};
    std::wstring install, client, package;
    RecordingHost host;
    core::PipelineState state;
};

const auto kWorkerCounts = ::testing::Values(1u, 4u);

class PackageExtractionOnWindows : public ExtractionOnWindows, public ::testing::WithParamInterface<unsigned> {
protected:
    void SetUp() override
    {
        workers = GetParam();
        ExtractionOnWindows::SetUp();
    }
};

TEST_P(PackageExtractionOnWindows, UnpacksChineseNamesBelowAChineseFolder)
{
    state.remoteConfig[L"ClientVersion"] = L"1.0.2.3";
    const std::wstring folder = L"\u8d44\u6599";     // 资料
    const std::wstring file = L"\u8bf4\u660e.txt";  // 说明.txt
    RawZip zip;
    zip.Add(Ansi(folder) + "/", "");
    zip.Add(Ansi(folder) + "/" + Ansi(file), "readme");
    zip.Add("qorn/", "");
    zip.Add("qorn/qorn.exe", std::string(20000, 'E'));
    ASSERT_TRUE(wintest::WriteFileBytes(package, zip.Bytes()));

    ASSERT_TRUE(Unzip());

    EXPECT_EQ(ReadAll(client + L"\\" + folder + L"\\" + file), "readme");
    EXPECT_EQ(ReadAll(client + L"\\qorn\\qorn.exe"), std::string(20000, 'E'));
    EXPECT_FALSE(Exists(package));
    EXPECT_EQ(ReadAll(client + L"\\game_client_version.txt"), "1.0.2.3");
    EXPECT_EQ(host.desktop, (std::vector<std::wstring>{L"SetRegisties", L"CopyLauncherTo:" + install + L"\\qorn.exe",
                                                       L"CreateShortcuts"}));
    // The log names each entry in its wide form, and the path of the package as given.
    EXPECT_NE(std::find(host.lines.begin(), host.lines.end(), L"INFO:" + folder + L"/" + file), host.lines.end());
    EXPECT_NE(std::find(host.lines.begin(), host.lines.end(), L"INFO:unzip file:" + package + L" begin"),
              host.lines.end());
}

// A UTF-8 name (flag bit 11) may hold characters code page 936 has no bytes for: the file is
// made with the wide file functions under exactly that name.
TEST_P(PackageExtractionOnWindows, UnpacksUtf8NamesOutsideTheCodePage)
{
    const std::wstring folder = L"\u0e44\u0e17\u0e22";          // Thai, not in code page 936
    const std::wstring file = L"caf\u00e9 \u8d44\u6e90.txt";   // café 资源.txt
    RawZip zip;
    zip.Add(fw::WideToUtf8(folder + L"/" + file), "utf-8 name", 0x800);
    ASSERT_TRUE(wintest::WriteFileBytes(package, zip.Bytes()));
    ASSERT_TRUE(Unzip());
    EXPECT_EQ(ReadAll(client + L"\\" + folder + L"\\" + file), "utf-8 name");
}

// A damaged entry among good ones: the walk fails naming it, the package stays, and no file is
// left that was not written whole and verified (the damaged one is removed again).
TEST_P(PackageExtractionOnWindows, ADamagedEntryLeavesOnlyWholeFiles)
{
    const std::wstring folder = L"\u8d44\u6599";  // 资料
    const auto good = [](int i) { return std::string(30000 + i, static_cast<char>('a' + i)); };
    const std::string damaged(50000, 'D');
    RawZip zip;
    for (int i = 0; i < 12; ++i) {
        zip.Add(Ansi(folder) + "/good" + std::to_string(i) + ".txt", good(i));
        if (i == 5) zip.Add(Ansi(folder) + "/bad.bin", damaged);
    }
    std::string bytes = zip.Bytes();
    bytes[bytes.find(damaged) + 100] = 'x';  // its check value no longer matches
    ASSERT_TRUE(wintest::WriteFileBytes(package, bytes));

    EXPECT_FALSE(Unzip());

    EXPECT_FALSE(Exists(client + L"\\" + folder + L"\\bad.bin"));
    for (int i = 0; i < 12; ++i) {
        const std::wstring path = client + L"\\" + folder + L"\\good" + std::to_wstring(i) + L".txt";
        if (Exists(path)) {
            EXPECT_EQ(ReadAll(path), good(i)) << i;
        }
    }
    EXPECT_TRUE(Exists(package));
    EXPECT_NE(std::find(host.lines.begin(), host.lines.end(), L"ERROR:CRC error in entry " + folder + L"/bad.bin"),
              host.lines.end());
    EXPECT_EQ(host.reports.back(), L"message:game unzip failed");
    EXPECT_TRUE(host.desktop.empty());
}

// Writes each piece at its offset and nothing between them, so the gaps stay holes that cost
// no disk: a zip64 archive past 4 GiB made in a moment.
bool WriteSparse(const std::wstring& path, const std::vector<RawZip::Piece>& pieces)
{
    fw::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
    if (!file) return false;
    for (const RawZip::Piece& piece : pieces) {
        LARGE_INTEGER at{};
        at.QuadPart = static_cast<LONGLONG>(piece.offset);
        DWORD written = 0;
        if (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) ||
            !WriteFile(file.get(), piece.bytes.data(), static_cast<DWORD>(piece.bytes.size()), &written, nullptr) ||
            written != piece.bytes.size())
            return false;
    }
    return true;
}

std::uint64_t SizeOf(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

// Sizes and offsets past 4 GiB live in zip64 records. An entry larger than 4 GiB and one that
// starts past 4 GiB unpack whole: the walk checks the size it wrote and minizip the CRC-32.
TEST_P(PackageExtractionOnWindows, UnpacksAnEntryLargerThan4GiBAndOneStartingPastIt)
{
    constexpr std::uint64_t kLarge = (std::uint64_t{1} << 32) + 4097;
    ULARGE_INTEGER free{};
    ASSERT_TRUE(GetDiskFreeSpaceExW(client.c_str(), &free, nullptr, nullptr));
    if (free.QuadPart < kLarge + (std::uint64_t{1} << 30))
        GTEST_SKIP() << "the large entry needs " << kLarge << " bytes of disk, " << free.QuadPart << " are free";

    RawZip zip;
    zip.Add("qorn/first.txt", "before the large entry");
    zip.AddZeros("qorn/large.bin", kLarge);
    zip.Add("qorn/past4g.txt", "past 4 GiB");
    ASSERT_TRUE(WriteSparse(package, zip.Pieces()));
    ASSERT_GT(SizeOf(package), kLarge);

    const bool unpacked = Unzip();
    std::wstring log;
    for (const auto& line : host.lines) log += line + L"\n";
    ASSERT_TRUE(unpacked) << fw::WideToUtf8(log);
    EXPECT_EQ(ReadAll(client + L"\\qorn\\first.txt"), "before the large entry");
    EXPECT_EQ(SizeOf(client + L"\\qorn\\large.bin"), kLarge);
    EXPECT_EQ(ReadAll(client + L"\\qorn\\past4g.txt"), "past 4 GiB");
}

INSTANTIATE_TEST_SUITE_P(Workers, PackageExtractionOnWindows, kWorkerCounts);

std::vector<std::wstring> Sorted(std::vector<std::wstring> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

class RefusedOnWindows : public ExtractionOnWindows,
                         public ::testing::WithParamInterface<std::tuple<const wchar_t*, unsigned>> {
protected:
    void SetUp() override
    {
        workers = std::get<1>(GetParam());
        ExtractionOnWindows::SetUp();
    }
};

TEST_P(RefusedOnWindows, NothingIsWrittenAndThePackageStays)
{
    RawZip zip;
    zip.Add("first.txt", "a good entry before the bad one");
    zip.Add(Ansi(std::get<0>(GetParam())), "out");
    ASSERT_TRUE(wintest::WriteFileBytes(package, zip.Bytes()));

    EXPECT_FALSE(Unzip());

    // Nothing new anywhere: not beside the install folder, not in it, not in the client folder.
    EXPECT_EQ(wintest::ListFiles(dir.path(), L"*"), std::vector<std::wstring>{L"\u6e38\u620f\u5b89\u88c5"});
    EXPECT_EQ(Sorted(wintest::ListFiles(install, L"*")), (std::vector<std::wstring>{L"client", L"qorn.zip"}));
    EXPECT_TRUE(wintest::ListFiles(client, L"*").empty());
    EXPECT_EQ(host.reports.back(), L"message:game unzip failed");
    EXPECT_TRUE(host.desktop.empty());
}

INSTANTIATE_TEST_SUITE_P(Table, RefusedOnWindows,
                         ::testing::Combine(::testing::Values(L"..\\\u9003\u9038.txt",  // ..\逃逸.txt
                                                              L"client\\..\\..\\x.txt",
                                                              L"\\\\127.0.0.1\\c$\\x.txt", L"C:x.txt",
                                                              L"evil.txt:stream"),  // a data stream of evil.txt
                                            kWorkerCounts));

}  // namespace
