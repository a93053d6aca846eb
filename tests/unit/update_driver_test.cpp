// The update thread's routine, run on a thread of its own with a recording window against the
// channel server: the window calls of every outcome, in order.
#include <atomic>
#include <chrono>
#include <thread>

#include "core/update/update_driver.h"
#include "core/update/version_record.h"
#include "tests/unit/pipeline_fixture.h"

namespace {

using namespace pipeline_test;
using Calls = std::vector<std::string>;

class UpdateDriver : public PackagePipeline {
protected:
    // Serves a configuration document built from key/value lines.
    void ServeConfig(const std::string& lines) { ASSERT_TRUE(channel.SetConfig(lines)); }

    std::string StandardConfig(const std::string& mini = "ClientMiniUpdateVersion=1.0.0.0\n")
    {
        const std::string url = channel.BaseUrl() + "/packages/{ditch_name}/qorn_{version}.zip";
        return "ClientVersion=1.0.3.7\n" + mini + "ClientDownloadUrl=" + url + "\nClient32DownloadUrl=" + url +
               "\nEntryUrl=" + channel.BaseUrl() + "/entry/index.html\n";
    }

    // Runs the routine the way the launcher does: on its own thread, to the end.
    void Run(const std::string& configPath = kConfigPath)
    {
        const std::wstring url = core::Utf8ToWide(channel.Url(configPath));
        std::thread update([&] {
            core::UpdateContext ctx = Ctx();
            core::InitRemoteConfig(ctx, url, [] { return std::wstring(L"qorn_X7"); });
        });
        update.join();
    }

    // The calls without the progress steps of a transfer or walk (their number depends on
    // chunking): "UpdateProgress(,...)" and the "ShowProgressControls(1)" after each.
    Calls Milestones()
    {
        Calls out;
        for (const auto& c : window.Calls())
            if (c.rfind("UpdateProgress(,", 0) != 0 && c != "ShowProgressControls(1)") out.push_back(c);
        return out;
    }

    void InstallCurrentClient()
    {
        WriteAll(install / "client" / "game_client_version.txt", "1.0.2.0");
    }
};

const Calls kReady = {"InitWebBrower()", "UpdateProgress(更新已完成,,0,0)", "ShowProgressControls(0)", "SetReady()"};

TEST_F(UpdateDriver, FirstInstallDownloadsUnpacksAndSignalsReadiness)
{
    ServeConfig(StandardConfig());
    Run();
    EXPECT_EQ(Milestones(), kReady);
    EXPECT_TRUE(Installed());
    EXPECT_EQ(state.freshInstall, 1);
    // The transfer's progress came before the walk's.
    const Calls calls = window.Calls();
    const auto firstDownload = std::find(calls.begin(), calls.end(), "UpdateProgress(,100%,100,1)");
    const auto firstUnpack = std::find(calls.begin(), calls.end(), "UpdateProgress(,1/3,33,0)");
    EXPECT_TRUE(firstDownload != calls.end() && firstUnpack != calls.end() && firstDownload < firstUnpack);
    EXPECT_EQ(host.DesktopSteps(), (std::vector<std::wstring>{L"SetRegisties", L"CopyLauncherTo:" +
                                                                                   (install / "qorn_X7.exe").wstring(),
                                                              L"CreateShortcuts"}));
}

TEST_F(UpdateDriver, CurrentClientIsConfirmedWithoutDownload)
{
    ServeConfig(StandardConfig());
    InstallCurrentClient();
    Run();
    EXPECT_EQ(Milestones(), kReady);
    EXPECT_EQ(RequestsText().find(kPackagePath), std::string::npos);
    EXPECT_EQ(state.freshInstall, 0);
    EXPECT_TRUE(host.HasLine(L"INFO", L"update finish!"));
    EXPECT_TRUE(host.HasLine(L"INFO", L"dest_path:" + (install / "qorn_X7.exe").wstring()));
    EXPECT_EQ(host.DesktopSteps().back(), L"CreateShortcuts");
}

TEST_F(UpdateDriver, CurrentClientWithAFailedSelfCopyMakesNoShortcuts)
{
    ServeConfig(StandardConfig());
    InstallCurrentClient();
    host.copyLauncherError = 32;  // the launcher runs from the copy's path
    Run();
    EXPECT_EQ(Milestones(), kReady);
    EXPECT_EQ(host.DesktopSteps(), (std::vector<std::wstring>{L"SetRegisties", L"CopyLauncherTo:" +
                                                                                   (install / "qorn_X7.exe").wstring()}));
}

TEST_F(UpdateDriver, ConfigurationServerDownShows102AndOpensNoPage)
{
    ASSERT_TRUE(channel.SetFault(kConfigPath, R"("status": 503)"));
    Run();
    EXPECT_EQ(Milestones(), (Calls{"UpdateProgress(更新失败,请检查网络:102,,0,0)", "ShowProgressControls(0)"}));
}

TEST_F(UpdateDriver, NoTransferHandleShows101)
{
    ServeConfig(StandardConfig());
    std::thread update([&] {
        core::UpdateContext ctx = Ctx();
        ctx.newTransfer = []() -> CURL* { return nullptr; };
        core::InitRemoteConfig(ctx, core::Utf8ToWide(channel.Url(kConfigPath)), [] { return std::wstring(L"qorn"); });
    });
    update.join();
    EXPECT_EQ(Milestones(), (Calls{"UpdateProgress(更新失败,请检查网络:101,,0,0)", "ShowProgressControls(0)"}));
    EXPECT_TRUE(host.HasLine(L"ERROR", L"curl is NULL!"));
    EXPECT_EQ(RequestsText().find(kConfigPath), std::string::npos);
}

TEST_F(UpdateDriver, ServerDownKeepsTheRecordedDownloadForTheNextStart)
{
    ASSERT_TRUE(channel.SetFault(kConfigPath, R"("status": 503)"));
    WriteAll(install / "tempdownload.dat", "downloadVersion=1.0.3.7\noffset=600\ntotalSize=1000\n");
    Run();
    core::UpdateContext ctx = Ctx();
    core::WriteResumeRecord(ctx);  // the player closes the launcher
    EXPECT_EQ(ReadAll(install / "tempdownload.dat"), "downloadVersion=1.0.3.7\noffset=600\ntotalSize=1000\n");
}

TEST_F(UpdateDriver, ClosingDuringTheConfigurationFetchKeepsTheRecordedDownload)
{
    const std::string record = "downloadVersion=1.0.3.7\noffset=600\ntotalSize=1000\n";
    WriteAll(install / "tempdownload.dat", record);
    std::atomic<bool> done{false};
    std::thread update([&] {
        core::UpdateContext ctx = Ctx();
        ctx.limits.configTotalSeconds = 3;
        core::InitRemoteConfig(ctx, core::Utf8ToWide(SilentUrl("/config.php")), [] { return std::wstring(L"qorn"); });
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_FALSE(done) << "the fetch should still be waiting for the silent server";
    {
        core::UpdateContext ctx = Ctx();
        core::WriteResumeRecord(ctx);  // the player closes the launcher while the fetch runs
    }
    EXPECT_EQ(ReadAll(install / "tempdownload.dat"), record);
    update.join();
    EXPECT_EQ(Milestones(), (Calls{"UpdateProgress(更新失败,请检查网络:102,,0,0)", "ShowProgressControls(0)"}));
}

TEST_F(UpdateDriver, PackageFailureShows104Then103)
{
    ServeConfig(StandardConfig());
    ASSERT_TRUE(channel.SetFault(kPackagePath, R"("status": 500)"));
    Run();
    EXPECT_EQ(Milestones(), (Calls{"InitWebBrower()", "UpdateProgress(更新失败,请检查网络:104,,0,0)",
                                   "ShowProgressControls(0)", "UpdateProgress(更新失败,请检查网络:103,,0,0)",
                                   "ShowProgressControls(0)"}));
    EXPECT_TRUE(host.HasLine(L"ERROR", L"download error"));
}

TEST_F(UpdateDriver, WithoutMiniVersionEveryStartGoesToTheDownload)
{
    ServeConfig(StandardConfig(""));
    InstallCurrentClient();
    Run();
    // No package on disk: unpacking it fails first, then the fresh transfer installs.
    EXPECT_EQ(Milestones(), (Calls{"InitWebBrower()", "UpdateProgress(解压失败,,0,0)", "ShowProgressControls(0)",
                                   "UpdateProgress(更新已完成,,0,0)", "ShowProgressControls(0)", "SetReady()"}));
    EXPECT_TRUE(Installed());
}

TEST_F(UpdateDriver, ResumeRecordAndVersionRecordFeedTheDecision)
{
    ServeConfig(StandardConfig());
    WriteAll(install / "qorn.zip", package.substr(0, 600));
    WriteAll(install / "tempdownload.dat",
             "downloadVersion=1.0.3.7\noffset=600\ntotalSize=" + std::to_string(package.size()) + "\n");
    Run();
    EXPECT_EQ(Milestones(), kReady);
    EXPECT_NE(RequestsText().find("bytes=600-"), std::string::npos);
    EXPECT_TRUE(host.HasLine(L"INFO", L"local_client_version:1.0.3.7"));
}

TEST_F(UpdateDriver, NoWindowEndsAtOnce)
{
    core::UpdateContext ctx = Ctx();
    ctx.window = nullptr;
    core::InitRemoteConfig(ctx, L"http://127.0.0.1:1/x", [] { return std::wstring(L"qorn"); });
    EXPECT_TRUE(host.HasLine(L"ERROR", L"lpParameter is NULL!"));
    EXPECT_EQ(host.Lines().size(), 1u);
}

}  // namespace
