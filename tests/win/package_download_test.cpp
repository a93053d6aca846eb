// The package download as the launcher runs it on Windows: libcurl with Schannel, the package
// file and the client below a folder with a Chinese name, against the channel server on
// loopback; a fresh install and a dropped transfer resumed to the same install.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "core/profile/profile.h"
#include "core/profile/profile_names.h"
#include "core/update/package_download.h"
#include "core/update/resume_record.h"
#include "fw/win_handle.h"
#include "tests/support/channel_control.h"
#include "tests/support/pipeline_restart.h"
#include "tests/support/raw_zip.h"
#include "tests/win/win_pipeline_support.h"
#include "tests/win/win_test_support.h"

namespace {

// The two package URLs lead to different paths, so a build that picks the wrong key fails.
const std::string kPackagePath64 = "/packages/palmet/x64/qorn_1.0.3.7.zip";
const std::string kPackagePath32 = "/packages/palmet/x86/qorn_1.0.3.7.zip";
// On 64-bit Windows "ClientDownloadUrl", else "Client32DownloadUrl": a 64-bit build always runs
// on 64-bit Windows, and a 32-bit build is tested in a 32-bit prefix.
#if defined(_WIN64)
const std::string kPackagePath = kPackagePath64;
#else
const std::string kPackagePath = kPackagePath32;
#endif

std::string ReadAll(const std::wstring& path)
{
    const auto bytes = wintest::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

class PackageDownloadOnWindows : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(channel.Available()) << "run through tests/support/run_with_test_servers.py";
        // Only this test's path: other tests of the run keep faults of their own on the server.
        ASSERT_TRUE(channel.ClearFaults(kPackagePath64));
        ASSERT_TRUE(channel.ClearFaults(kPackagePath32));
        ASSERT_TRUE(channel.ClearLogs());
        install = dir.path() + L"\\\u4e0b\u8f7d\u6d4b\u8bd5";  // 下载测试
        client = install + L"\\client";
        ASSERT_TRUE(CreateDirectoryW(install.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(client.c_str(), nullptr));

        for (std::size_t i = 0; i < 400000; ++i) game += static_cast<char>((i * 7919) % 251);
        testing_support::RawZip zip;
        zip.Add("qorn/", "");
        zip.Add("qorn/qorn.exe", game);
        zip.Add("qorn/readme.txt", "hello");
        package = zip.Bytes();
        // The server reads the package from the fixture folder, which Wine shows as drive Z:.
        const std::string fixtures = std::getenv("CHANNEL_FIXTURE_DIR");
        ASSERT_TRUE(wintest::WriteFileBytes(wintest::HostPath((fixtures + "/win-package.zip").c_str()), package));
        ASSERT_TRUE(channel.AddPackage(kPackagePath, fixtures + "/win-package.zip"));

        const std::wstring base = std::wstring(channel.BaseUrl().begin(), channel.BaseUrl().end());
        state.remoteConfig = {{L"ClientVersion", L"1.0.3.7"},
                              {L"ClientMiniUpdateVersion", L"1.0.0.0"},
                              {L"ClientDownloadUrl", base + L"/packages/{ditch_name}/x64/qorn_{version}.zip"},
                              {L"Client32DownloadUrl", base + L"/packages/{ditch_name}/x86/qorn_{version}.zip"}};
        state.remoteClientVersion = core::ParseClientVersion(L"1.0.3.7");
        state.miniUpdateVersion = core::ParseClientVersion(L"1.0.0.0");
    }

    core::UpdateContext Ctx()
    {
        return core::UpdateContext{host, state, &window, core::PipelinePaths{install, client, L"qorn", L"palmet", L"qorn"},
                                   core::TransferLimits{5, 5}};
    }
    bool Download()
    {
        core::UpdateContext ctx = Ctx();
        return core::OnDownLoad(ctx);
    }
    bool Installed() { return ReadAll(client + L"\\qorn\\qorn.exe") == game; }

    // Counts calls only; what they show is the native tests' concern.
    class CountingWindow : public core::ILauncherWindow {
    public:
        void UpdateProgress(const std::wstring&, const std::wstring&, int, int) override { ++progress; }
        void ShowProgressControls(bool) override {}
        void InitWebBrower() override {}
        void SetReady() override { ready = true; }
        int progress = 0;
        bool ready = false;
    };

    testsupport::ChannelControl channel;
    wintest::TempDir dir{L"download"};
    std::wstring install, client;
    std::string game, package;
    wintest::RecordingHost host;
    core::PipelineState state;
    CountingWindow window;
};

TEST_F(PackageDownloadOnWindows, FreshInstallBelowAChineseFolder)
{
    ASSERT_TRUE(Download());
    EXPECT_TRUE(Installed());
    EXPECT_EQ(ReadAll(client + L"\\game_client_version.txt"), "1.0.3.7");
    EXPECT_EQ(GetFileAttributesW((install + L"\\qorn.zip").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(window.ready);
    EXPECT_GT(window.progress, 0);
    EXPECT_EQ(state.downloadTotal.load(), static_cast<std::int64_t>(package.size()));
}

// The URL key follows the one "64-bit Windows" answer, whichever build asks.
class PackageUrlByWindowsKind : public PackageDownloadOnWindows, public ::testing::WithParamInterface<bool> {};

TEST_P(PackageUrlByWindowsKind, PicksTheKeyOfTheAnswer)
{
    struct AnsweringHost : wintest::RecordingHost {
        bool answer = false;
        bool IsWow64() override { return answer; }
    } answering;
    answering.answer = GetParam();
    const std::string fixtures = std::getenv("CHANNEL_FIXTURE_DIR");
    ASSERT_TRUE(channel.AddPackage(kPackagePath64, fixtures + "/win-package.zip"));
    ASSERT_TRUE(channel.AddPackage(kPackagePath32, fixtures + "/win-package.zip"));
    core::UpdateContext ctx{answering, state, &window, core::PipelinePaths{install, client, L"qorn", L"palmet", L"qorn"},
                            core::TransferLimits{5, 5}};
    ASSERT_TRUE(core::OnDownLoad(ctx));
    EXPECT_TRUE(Installed());
    const std::string requests = channel.Requests();
    const std::string& wanted = GetParam() ? kPackagePath64 : kPackagePath32;
    const std::string& other = GetParam() ? kPackagePath32 : kPackagePath64;
    EXPECT_NE(requests.find("\"" + wanted + "\""), std::string::npos) << requests;
    EXPECT_EQ(requests.find("\"" + other + "\""), std::string::npos) << requests;
}

INSTANTIATE_TEST_SUITE_P(BothAnswers, PackageUrlByWindowsKind, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "SixtyFourBitWindows" : "ThirtyTwoBitWindows"; });

// An old package that another process holds open without sharing can be neither read nor
// deleted: appending a fresh transfer to it would corrupt the package, so the download fails
// before it asks for anything, and the old file stays as it was.
TEST_F(PackageDownloadOnWindows, OldPackageHeldOpenByAnotherProgramFailsTheDownload)
{
    const std::wstring old = install + L"\\qorn.zip";
    ASSERT_TRUE(wintest::WriteFileBytes(old, "an old package"));
    fw::UniqueFileHandle held(CreateFileW(old.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_EQ(_wfopen(old.c_str(), L"rb"), nullptr) << "the package must really be unreadable";
    EXPECT_FALSE(Download());
    EXPECT_NE(std::find(host.lines.begin(), host.lines.end(), L"ERROR:old package cannot be deleted: " + old),
              host.lines.end());
    EXPECT_EQ(channel.Requests().find(kPackagePath), std::string::npos);
    held.reset();
    EXPECT_EQ(ReadAll(old), "an old package");
}

TEST_F(PackageDownloadOnWindows, DroppedTransferResumesToTheSameInstall)
{
    ASSERT_TRUE(channel.SetFault(kPackagePath, R"("drop_after": 150000, "times": 1)"));
    EXPECT_FALSE(Download());
    const std::string partial = ReadAll(install + L"\\qorn.zip");
    ASSERT_FALSE(partial.empty());
    EXPECT_EQ(partial, package.substr(0, partial.size()));
    {
        core::UpdateContext ctx = Ctx();
        testsupport::CloseAndRestart(ctx);
    }
    ASSERT_TRUE(Download());
    EXPECT_TRUE(Installed());
    EXPECT_NE(channel.Requests().find("\"range\": \"bytes=" + std::to_string(partial.size()) + "-\""), std::string::npos);
}

}  // namespace

namespace {

// The package as the digest check and the walk hold it: readable by anyone, but while held no
// handle can be opened to write, rename or delete it, so the checked bytes are the unpacked
// ones. Let go, it can be written again.
TEST(PackageHold, KeepsOthersFromWritingRenamingOrDeletingThePackage)
{
    wintest::TempDir dir{L"hold"};
    const std::wstring package = dir.path() + L"\\qorn.zip";
    ASSERT_TRUE(wintest::WriteFileBytes(package, "PK package"));
    WindowsUpdateHost host;
    std::FILE* held = host.OpenFileDenyingWrites(package);
    ASSERT_NE(held, nullptr);

    const auto openForWriting = [&] {
        fw::UniqueFileHandle file(CreateFileW(package.c_str(), GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
        return static_cast<bool>(file);
    };
    EXPECT_FALSE(openForWriting());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(_wfopen(package.c_str(), L"ab"), nullptr);
    EXPECT_FALSE(DeleteFileW(package.c_str()));
    EXPECT_FALSE(MoveFileExW(package.c_str(), (dir.path() + L"\\moved.zip").c_str(), MOVEFILE_REPLACE_EXISTING));
    // The walk's own handles (minizip opens the package by name for reading) still open.
    std::FILE* reader = _wfopen(package.c_str(), L"rb");
    ASSERT_NE(reader, nullptr);
    std::fclose(reader);
    char bytes[16] = {};
    EXPECT_EQ(std::fread(bytes, 1, sizeof bytes, held), 10u);
    EXPECT_EQ(std::string(bytes, 10), "PK package");

    std::fclose(held);
    EXPECT_TRUE(openForWriting());
    // A file another handle is writing cannot be held: its bytes could still change.
    std::FILE* writer = _wfopen(package.c_str(), L"ab");
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(host.OpenFileDenyingWrites(package), nullptr);
    std::fclose(writer);
    EXPECT_EQ(host.OpenFileDenyingWrites(dir.path() + L"\\missing.zip"), nullptr);
}

// The highest accepted serial lives in HKLM, under the profile's own key.
TEST(AcceptedConfigSerial, IsKeptUnderTheProfilesMachineKey)
{
    const std::wstring keyPath = core::ChannelStateKeyPath(GAME_CODE, DITCH_CODE);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, keyPath.c_str());
    WindowsUpdateHost host;
    std::uint64_t serial = 0;
    EXPECT_FALSE(host.ReadAcceptedConfigSerial(serial));
    ASSERT_TRUE(host.WriteAcceptedConfigSerial(1700000000123ull));
    ASSERT_TRUE(host.ReadAcceptedConfigSerial(serial));
    EXPECT_EQ(serial, 1700000000123ull);
    ULONGLONG stored = 0;
    DWORD size = sizeof stored;
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, keyPath.c_str(), L"AcceptedConfigSerial", RRF_RT_REG_QWORD, nullptr, &stored,
                           &size),
              ERROR_SUCCESS);
    EXPECT_EQ(stored, 1700000000123ull);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, keyPath.c_str()), ERROR_SUCCESS);
}

}  // namespace
