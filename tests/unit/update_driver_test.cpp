// The update thread's routine, run on a thread of its own with a recording window against the
// channel server: the window calls of every outcome, in order.
#include <atomic>
#include <chrono>
#include <thread>

#include "core/update/config_signature.h"
#include "core/update/sha256.h"
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

// A launcher built with channel keys (the current and the next), against documents signed,
// unsigned and altered after signing.
class SignedChannel : public UpdateDriver {
protected:
    void SetUp() override
    {
        UpdateDriver::SetUp();
        for (const core::ChannelSecretSeed* seed : {&current, &next}) {
            core::ChannelPublicKey key{};
            ASSERT_TRUE(core::ChannelPublicKeyFromSeed(*seed, key));
            keys.push_back(key);
        }
        channelKeys = keys;
        core::Sha256 sha;
        sha.Update(package.data(), package.size());
        digestLine = "ClientPackageSha256=" + sha.HexDigest() + "\n";
    }

    std::string Signed(std::string document, const core::ChannelSecretSeed& seed)
    {
        EXPECT_TRUE(core::SignConfigDocument(document, seed));
        return document;
    }

    void ServeChangedAfterSigning(const std::string& from, const std::string& to)
    {
        std::string document = Signed(StandardConfig() + digestLine, current);
        document.replace(document.find(from), from.size(), to);
        ServeConfig(document);
    }

    // Refused like a document that never arrived: 102, no page, no package request, the
    // reason in the log and in a report.
    void ExpectRefused(const std::wstring& reason)
    {
        EXPECT_EQ(Milestones(), (Calls{"UpdateProgress(更新失败,请检查网络:102,,0,0)", "ShowProgressControls(0)"}));
        EXPECT_EQ(RequestsText().find("/packages/"), std::string::npos);
        EXPECT_TRUE(host.HasLine(L"ERROR", L"configuration refused: " + reason));
        const auto reports = host.Reports();
        EXPECT_NE(std::find(reports.begin(), reports.end(), L"message:configuration refused: " + reason), reports.end());
        EXPECT_TRUE(state.remoteConfig.empty());
        EXPECT_FALSE(Installed());
    }

    core::ChannelSecretSeed current{{1, 2, 3}};
    core::ChannelSecretSeed next{{4, 5, 6}};
    core::ChannelKeys keys;
    std::string digestLine;
};

TEST_F(SignedChannel, ADocumentSignedWithTheCurrentKeyInstalls)
{
    ServeConfig(Signed(StandardConfig() + digestLine, current));
    Run();
    EXPECT_EQ(Milestones(), kReady);
    EXPECT_TRUE(Installed());
    EXPECT_TRUE(host.HasLine(L"INFO", L"configuration signature verified with key 1 of 2"));
    EXPECT_TRUE(host.HasLine(L"INFO", L"package digest verified"));
}

TEST_F(SignedChannel, ADocumentSignedWithTheNextKeyInstalls)
{
    ServeConfig(Signed(StandardConfig() + digestLine, next));
    Run();
    EXPECT_EQ(Milestones(), kReady);
    EXPECT_TRUE(Installed());
    EXPECT_TRUE(host.HasLine(L"INFO", L"configuration signature verified with key 2 of 2"));
}

TEST_F(SignedChannel, AnUnsignedDocumentIsRefused)
{
    ServeConfig(StandardConfig() + digestLine);
    Run();
    ExpectRefused(L"configuration is not signed");
}

// Another package (on the same server, so only the signature can stop it) or another page.
TEST_F(SignedChannel, ADocumentWithAnotherPackageUrlAfterSigningIsRefused)
{
    ServeChangedAfterSigning("qorn_{version}", "evil_{version}");
    Run();
    ExpectRefused(L"configuration signature matches no key of this launcher");
}

TEST_F(SignedChannel, ADocumentWithAnotherEntryUrlAfterSigningIsRefused)
{
    ServeChangedAfterSigning("/entry/index.html", "/entry/evil.html");
    Run();
    ExpectRefused(L"configuration signature matches no key of this launcher");
}

TEST_F(SignedChannel, ASignedDocumentWithoutThePackageDigestIsRefused)
{
    ServeConfig(Signed(StandardConfig(), current));
    Run();
    ExpectRefused(L"signed configuration names no ClientPackageSha256 of 64 hex digits");
}

TEST_F(SignedChannel, APackageReplacedOnTheServerIsNeverUnpacked)
{
    ServeConfig(Signed(StandardConfig() + digestLine, current));
    ASSERT_TRUE(testing_support::WriteZip((root / "other.zip").string(), {ZipEntry{"qorn/qorn.exe", "not the game"}}));
    ASSERT_TRUE(channel.AddPackage(kPackagePath, (root / "other.zip").string()));
    Run();
    EXPECT_EQ(Milestones(), (Calls{"InitWebBrower()", "UpdateProgress(更新失败,请检查网络:104,,0,0)",
                                   "ShowProgressControls(0)", "UpdateProgress(更新失败,请检查网络:103,,0,0)",
                                   "ShowProgressControls(0)"}));
    EXPECT_FALSE(fs::exists(install / "client" / "qorn" / "qorn.exe"));
    EXPECT_FALSE(fs::exists(install / "qorn.zip"));
}

TEST_F(SignedChannel, ALauncherWithoutKeysTakesASignedDocument)
{
    channelKeys.clear();
    ServeConfig(Signed(StandardConfig() + digestLine, current));
    Run();
    EXPECT_EQ(Milestones(), kReady);
    EXPECT_TRUE(Installed());
}

TEST_F(SignedChannel, ALauncherWithoutKeysTakesAnUnsignedDocument)
{
    channelKeys.clear();
    ServeConfig(StandardConfig());
    Run();
    EXPECT_EQ(Milestones(), kReady);
    EXPECT_TRUE(Installed());
    EXPECT_FALSE(host.HasLine(L"INFO", L"package digest verified"));
}

}  // namespace
