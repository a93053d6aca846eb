// The update thread's routine, run on a thread of its own with a recording window against the
// channel server: the window calls of every outcome, in order.
#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <optional>
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
// unsigned and altered after signing, for another game or channel, older, expired, or
// lacking what a signed document must name.
class SignedChannel : public UpdateDriver {
public:
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
        sizeLine = "ClientPackageSize=" + std::to_string(package.size()) + "\n";
    }

    // The standard document as a signed channel publishes it: an https entry page, the
    // package's digest and size, and a serial; extra lines after them.
    std::string SignedConfig(const std::string& extra = "ClientConfigSerial=7\n")
    {
        std::string config = StandardConfig();
        config.replace(config.find("EntryUrl=http://"), 16, "EntryUrl=https://");
        return config + digestLine + sizeLine + extra;
    }

    std::string Signed(std::string document, const core::ChannelSecretSeed& seed,
                       const std::string& context = core::ConfigSigningContext("qorn", "palmet"))
    {
        EXPECT_TRUE(core::SignConfigDocument(document, seed, context));
        return document;
    }

    void ServeChangedAfterSigning(const std::string& from, const std::string& to)
    {
        std::string document = Signed(SignedConfig(), current);
        document.replace(document.find(from), from.size(), to);
        ServeConfig(document);
    }

protected:
    bool HasLineStarting(const std::wstring& level, const std::wstring& start)
    {
        for (const auto& line : host.Lines())
            if (line.level == level && line.text.rfind(start, 0) == 0) return true;
        return false;
    }

    // Refused like a document that never arrived: 102, no page, no package request, the
    // reason in the log and in a report, and no serial kept from it.
    void ExpectRefused(const std::wstring& reason)
    {
        EXPECT_EQ(Milestones(), (Calls{"UpdateProgress(更新失败,请检查网络:102,,0,0)", "ShowProgressControls(0)"}));
        EXPECT_EQ(RequestsText().find("/packages/"), std::string::npos);
        EXPECT_TRUE(HasLineStarting(L"ERROR", L"configuration refused: " + reason)) << core::WideToUtf8(reason);
        bool reported = false;
        for (const auto& report : host.Reports())
            reported = reported || report.rfind(L"message:configuration refused: " + reason, 0) == 0;
        EXPECT_TRUE(reported);
        EXPECT_TRUE(state.remoteConfig.empty());
        EXPECT_FALSE(Installed());
    }

public:
    core::ChannelSecretSeed current{{1, 2, 3}};
    core::ChannelSecretSeed next{{4, 5, 6}};
    core::ChannelKeys keys;
    std::string digestLine;
    std::string sizeLine;
};

TEST_F(SignedChannel, ADocumentSignedWithTheCurrentKeyInstalls)
{
    ServeConfig(Signed(SignedConfig(), current));
    Run();
    EXPECT_EQ(Milestones(), kReady);
    EXPECT_TRUE(Installed());
    EXPECT_TRUE(host.HasLine(L"INFO", L"configuration signature verified with key 1 of 2, serial 7"));
    EXPECT_TRUE(host.HasLine(L"INFO", L"package digest verified"));
    EXPECT_EQ(host.acceptedConfigSerial, std::optional<std::uint64_t>(7));
}

TEST_F(SignedChannel, ADocumentSignedWithTheNextKeyInstalls)
{
    ServeConfig(Signed(SignedConfig(), next));
    Run();
    EXPECT_EQ(Milestones(), kReady);
    EXPECT_TRUE(Installed());
    EXPECT_TRUE(host.HasLine(L"INFO", L"configuration signature verified with key 2 of 2, serial 7"));
}

TEST_F(SignedChannel, AnUnsignedDocumentIsRefused)
{
    ServeConfig(SignedConfig());
    Run();
    ExpectRefused(L"configuration is not signed");
}

// Another package (on the same server, so only the signature can stop it) or another page.
TEST_F(SignedChannel, ADocumentWithAnotherPackageUrlAfterSigningIsRefused)
{
    ServeChangedAfterSigning("qorn_{version}", "evil_{version}");
    Run();
    ExpectRefused(L"configuration signature matches no key of this launcher for game qorn, channel palmet");
}

TEST_F(SignedChannel, ADocumentWithAnotherEntryUrlAfterSigningIsRefused)
{
    ServeChangedAfterSigning("/entry/index.html", "/entry/evil.html");
    Run();
    ExpectRefused(L"configuration signature matches no key of this launcher for game qorn, channel palmet");
}

// The fixture's documents for a table's cases.
struct SignedChannelDocuments {
    SignedChannel* fixture;
    std::string Config(const std::string& extra = "ClientConfigSerial=7\n") { return fixture->SignedConfig(extra); }
    std::string Sign(const std::string& document,
                     const std::string& context = core::ConfigSigningContext("qorn", "palmet"))
    {
        return fixture->Signed(document, fixture->current, context);
    }
};

struct RefusedDocumentCase {
    const char* what;
    std::function<std::string(SignedChannelDocuments&)> document;
    const wchar_t* reason;  // the start of the logged reason
};

class SignedChannelRefusals : public SignedChannel, public ::testing::WithParamInterface<RefusedDocumentCase> {};

// A document the studio really signed, only not for this launcher, not any more, or without
// what a signed document must name. The launcher accepted serial 7 before.
TEST_P(SignedChannelRefusals, AreRefusedWith102AndNothingUsed)
{
    host.acceptedConfigSerial = 7;
    SignedChannelDocuments documents{this};
    ServeConfig(GetParam().document(documents));
    Run();
    ExpectRefused(GetParam().reason);
    EXPECT_EQ(host.acceptedConfigSerial, std::optional<std::uint64_t>(7)) << "a refused document keeps no serial";
}

std::string WithoutLine(std::string document, const std::string& key)
{
    const std::size_t at = document.find("\n" + key + "=");
    return document.erase(at + 1, document.find('\n', at + 1) - at);
}

const wchar_t kNoMatchingKey[] = L"configuration signature matches no key of this launcher for game qorn, channel palmet";

INSTANTIATE_TEST_SUITE_P(
    Table, SignedChannelRefusals,
    ::testing::Values(
        RefusedDocumentCase{"another channel's",
                            [](SignedChannelDocuments& d) { return d.Sign(d.Config(), core::ConfigSigningContext("qorn", "qa")); },
                            kNoMatchingKey},
        RefusedDocumentCase{"another game's",
                            [](SignedChannelDocuments& d) { return d.Sign(d.Config(), core::ConfigSigningContext("vorn", "palmet")); },
                            kNoMatchingKey},
        RefusedDocumentCase{"an older serial",
                            [](SignedChannelDocuments& d) { return d.Sign(d.Config("ClientConfigSerial=6\n")); },
                            L"signed configuration has serial 6, older than serial 7 accepted before"},
        RefusedDocumentCase{"expired",
                            [](SignedChannelDocuments& d) {
                                return d.Sign(d.Config("ClientConfigSerial=8\nClientConfigExpires=1000000000\n"));
                            },
                            L"signed configuration expired at 1000000000 (Unix time); the clock says "},
        RefusedDocumentCase{"an http entry page",
                            [](SignedChannelDocuments& d) {
                                std::string config = d.Config();
                                config.replace(config.find("EntryUrl=https://"), 17, "EntryUrl=http://");
                                return d.Sign(config);
                            },
                            L"signed configuration's EntryUrl is not https: http://"},
        RefusedDocumentCase{"no serial",
                            [](SignedChannelDocuments& d) { return d.Sign(d.Config("")); },
                            L"signed configuration names no ClientConfigSerial"},
        RefusedDocumentCase{"a serial with a sign",
                            [](SignedChannelDocuments& d) { return d.Sign(d.Config("ClientConfigSerial=+8\n")); },
                            L"signed configuration's ClientConfigSerial is not a decimal number: +8"},
        RefusedDocumentCase{"no package size",
                            [](SignedChannelDocuments& d) { return d.Sign(WithoutLine(d.Config(), "ClientPackageSize")); },
                            L"signed configuration names no ClientPackageSize"},
        RefusedDocumentCase{"no package digest",
                            [](SignedChannelDocuments& d) { return d.Sign(WithoutLine(d.Config(), "ClientPackageSha256")); },
                            L"signed configuration names no ClientPackageSha256 of 64 hex digits"}));

struct AcceptedDocumentCase {
    const char* what;
    std::optional<std::uint64_t> keptBefore;
    std::string lines;  // after the package's digest and size
    std::uint64_t keptAfter;
};

class SignedChannelAccepts : public SignedChannel, public ::testing::WithParamInterface<AcceptedDocumentCase> {};

// Every start fetches the same document: an equal serial is taken, a higher one kept, and a
// document that has not expired yet installs.
TEST_P(SignedChannelAccepts, InstallAndKeepTheHighestSerial)
{
    host.acceptedConfigSerial = GetParam().keptBefore;
    ServeConfig(Signed(SignedConfig(GetParam().lines), current));
    Run();
    EXPECT_EQ(Milestones(), kReady) << GetParam().what;
    EXPECT_TRUE(Installed());
    EXPECT_EQ(host.acceptedConfigSerial, std::optional<std::uint64_t>(GetParam().keptAfter));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SignedChannelAccepts,
    ::testing::Values(AcceptedDocumentCase{"a first start", std::nullopt, "ClientConfigSerial=7\n", 7},
                      AcceptedDocumentCase{"the same serial again", 7, "ClientConfigSerial=7\n", 7},
                      AcceptedDocumentCase{"a newer serial, expiring in an hour", 7,
                                           "ClientConfigSerial=9\nClientConfigExpires=" +
                                               std::to_string(std::time(nullptr) + 3600) + "\n",
                                           9}));

// A launcher that cannot keep the serial still uses the valid document, and says so.
TEST_F(SignedChannel, ASerialThatCannotBeKeptIsLoggedAndTheDocumentUsed)
{
    host.keepsConfigSerial = false;
    ServeConfig(Signed(SignedConfig(), current));
    Run();
    EXPECT_EQ(Milestones(), kReady);
    EXPECT_TRUE(host.HasLine(L"ERROR", L"the accepted serial 7 cannot be kept"));
}

TEST_F(SignedChannel, APackageReplacedOnTheServerIsNeverUnpacked)
{
    ServeConfig(Signed(SignedConfig(), current));
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
    ServeConfig(Signed(SignedConfig(), current));
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
