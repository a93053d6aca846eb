// A client directory, a channel server (started for the test program by
// tests/support/run_with_test_servers.py) serving one game package, and the pipeline's
// platform, state and window recorders, for tests of the download and the update driver.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/update/package_download.h"
#include "core/update/posix_update_host.h"
#include "core/update/remote_config.h"
#include "core/update/resume_record.h"
#include "tests/support/channel_control.h"
#include "tests/support/pipeline_restart.h"
#include "tests/unit/recording_window.h"
#include "tests/unit/zip_fixture.h"

namespace pipeline_test {

namespace fs = std::filesystem;
using testing_support::ZipEntry;


inline const std::string kConfigPath = "/api/merth/ditches/palmet/client_config_palmet.php";
inline const std::string kPackagePath = "/packages/palmet/qorn_1.0.3.7.zip";

inline std::string ReadAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteAll(const fs::path& p, const std::string& bytes)
{
    std::ofstream(p, std::ios::binary) << bytes;
}

class PackagePipeline : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(channel.Available()) << "run through tests/support/run_with_test_servers.py";
        ASSERT_TRUE(channel.ClearFaults());
        ASSERT_TRUE(channel.ClearLogs());
        root = fs::path(std::getenv("CHANNEL_FIXTURE_DIR")) /
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(root);
        install = root / "install";
        fs::create_directories(install / "client");
        // A package with one big file (so transfers take many writes) and a small folder.
        payload = testing_support::NoiseBytes(3 * 1024 * 1024 + 17, 7);
        ASSERT_TRUE(testing_support::WriteZip(
            (root / "package.zip").string(),
            {ZipEntry{"qorn/", ""}, ZipEntry{"qorn/qorn.exe", payload, false}, ZipEntry{"qorn/readme.txt", "hello"}}));
        package = ReadAll(root / "package.zip");
        ASSERT_TRUE(channel.AddPackage(kPackagePath, (root / "package.zip").string()));
    }

    // The configuration as the driver would have stored it, versions parsed.
    void Configure(const std::wstring& clientVersion, const std::wstring& miniVersion)
    {
        const std::wstring url = core::Utf8ToWide(channel.BaseUrl()) + L"/packages/{ditch_name}/qorn_{version}.zip";
        state.remoteConfig = {{L"ClientVersion", clientVersion},
                              {L"ClientMiniUpdateVersion", miniVersion},
                              {L"ClientDownloadUrl", url},
                              {L"Client32DownloadUrl", url}};
        state.remoteClientVersion = core::ParseClientVersion(clientVersion);
        state.miniUpdateVersion = core::ParseClientVersion(miniVersion);
    }

    void SetRecord(const std::wstring& version, std::int64_t offset, std::int64_t total)
    {
        state.downloadVersion = core::ParseClientVersion(version);
        state.downloadOffset = offset;
        state.resumeFrom = offset;
        state.downloadTotal = total;
    }

    core::UpdateContext Ctx()
    {
        core::PipelinePaths paths{install.wstring(), (install / "client").wstring(), L"qorn", L"palmet", L"qorn"};
        core::UpdateContext ctx{host, state, &window, paths, core::TransferLimits{5, 2}};
        ctx.channelKeys = channelKeys;
        return ctx;
    }

    bool Download()
    {
        core::UpdateContext ctx = Ctx();
        return core::OnDownLoad(ctx);
    }

    // The launcher closes (the resume record is written) and starts again: the resume values
    // are read back from the record as the driver reads them.
    void Restart()
    {
        core::UpdateContext ctx = Ctx();
        testsupport::CloseAndRestart(ctx);
    }

    std::string RequestsText() { return channel.Requests(); }
    // A URL on the wrapper's server that accepts connections and never answers.
    static std::string SilentUrl(const std::string& path)
    {
        const char* port = std::getenv("LAUNCHER_TEST_SILENT_PORT");
        return "http://127.0.0.1:" + std::string(port ? port : "1") + path;
    }
    bool Installed() { return ReadAll(install / "client" / "qorn" / "qorn.exe") == payload; }
    bool WindowSaw(const std::string& call)
    {
        for (const auto& c : window.Calls())
            if (c == call) return true;
        return false;
    }

    testsupport::ChannelControl channel;
    fs::path root;
    fs::path install;
    core::PosixUpdateHost host;
    core::PipelineState state;
    core::ChannelKeys channelKeys;  // none: a launcher built without keys
    testing_support::RecordingWindow window;
    std::string payload;
    std::string package;
};

}  // namespace pipeline_test
