// The configuration fetch and the package download against a real channel server on loopback
// (started for this program by tests/support/run_with_test_servers.py): every row of the
// download decision, resumes, and transfers that go wrong.
#include <algorithm>
#include <functional>

#include "core/update/sha256.h"
#include "tests/unit/pipeline_fixture.h"

namespace {

using namespace pipeline_test;

// Each window call waits for the GUI thread: the transfer calls the window only when the
// percent it shows changes, each time followed by showing the progress controls.
TEST_F(PackagePipeline, TransferCallsTheWindowOncePerPercent)
{
    Configure(L"1.0.3.7", L"1.0.0.0");
    ASSERT_TRUE(channel.SetFault(kPackagePath, R"("trickle_bytes": 262144, "trickle_interval": 0.02)"));
    ASSERT_TRUE(Download());
    const auto calls = window.Calls();
    std::vector<int> percents;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].rfind("UpdateProgress(,", 0) != 0 || calls[i].compare(calls[i].size() - 3, 3, ",1)") != 0) continue;
        const std::size_t comma = calls[i].rfind(',', calls[i].size() - 4);
        percents.push_back(std::stoi(calls[i].substr(comma + 1)));
        ASSERT_LT(i + 1, calls.size());
        EXPECT_EQ(calls[i + 1], "ShowProgressControls(1)");
    }
    ASSERT_FALSE(percents.empty());
    EXPECT_TRUE(std::adjacent_find(percents.begin(), percents.end(), std::greater_equal<int>()) == percents.end())
        << "percents must strictly increase";
    EXPECT_EQ(percents.back(), 100);
}

TEST_F(PackagePipeline, FirstInstallFetchesFromByteZeroAndCompletesTheInstall)
{
    Configure(L"1.0.3.7", L"1.0.0.0");
    ASSERT_TRUE(Download());
    EXPECT_TRUE(Installed());
    EXPECT_FALSE(fs::exists(install / "qorn.zip"));
    EXPECT_TRUE(host.HasLine(L"INFO", L"Download version is elder than mini update version. Restart downloading resources."));
    EXPECT_EQ(RequestsText().find("bytes="), std::string::npos) << "a fresh transfer asks for no range";
    EXPECT_EQ(state.downloadOffset.load(), static_cast<std::int64_t>(package.size()));
    EXPECT_EQ(state.downloadTotal.load(), static_cast<std::int64_t>(package.size()));
    EXPECT_EQ(core::FormatClientVersion(state.downloadVersion), L"1.0.3.7");
    EXPECT_TRUE(WindowSaw("UpdateProgress(,100%,100,1)"));
    EXPECT_TRUE(WindowSaw("UpdateProgress(更新已完成,,0,0)"));
    EXPECT_EQ(window.Calls().back(), "SetReady()");
    const std::vector<std::wstring> reports = host.Reports();
    ASSERT_GE(reports.size(), 4u);
    EXPECT_EQ(reports[0], L"event:2");
    EXPECT_EQ(reports[1], L"message:game download start, download url:" + core::Utf8ToWide(channel.Url(kPackagePath)));
    EXPECT_EQ(reports[2], L"event:3");
    EXPECT_EQ(reports[3], L"message:game download success");
}

TEST_F(PackagePipeline, CompletePackageOnDiskIsUnpackedWithoutATransfer)
{
    Configure(L"1.0.3.7", L"1.0.0.0");
    WriteAll(install / "qorn.zip", package);
    SetRecord(L"1.0.3.7", static_cast<std::int64_t>(package.size()), static_cast<std::int64_t>(package.size()));
    ASSERT_TRUE(Download());
    EXPECT_TRUE(Installed());
    EXPECT_TRUE(host.HasLine(L"INFO", L"Try unzipping old resource..."));
    EXPECT_TRUE(host.HasLine(L"INFO", L"Unzip success!"));
    EXPECT_EQ(RequestsText().find(kPackagePath), std::string::npos);
}

// Closing the launcher stops the unpacking of a package on disk: the package stays, whole, for
// the next start, and no transfer begins.
TEST_F(PackagePipeline, ClosingTheLauncherKeepsThePackageOnDisk)
{
    Configure(L"1.0.3.7", L"1.0.0.0");
    WriteAll(install / "qorn.zip", package);
    SetRecord(L"1.0.3.7", static_cast<std::int64_t>(package.size()), static_cast<std::int64_t>(package.size()));
    state.stop.Request();
    EXPECT_FALSE(Download());
    EXPECT_FALSE(Installed());
    EXPECT_TRUE(host.HasLine(L"INFO", L"Unzip stopped: the launcher is closing; the package stays for the next start"));
    EXPECT_EQ(ReadAll(install / "qorn.zip"), package);
    EXPECT_EQ(RequestsText().find(kPackagePath), std::string::npos);
}

TEST_F(PackagePipeline, NoMiniVersionAndNoPackageFallsBackToAFreshTransfer)
{
    Configure(L"1.0.3.7", L"0.0.0.0");
    ASSERT_TRUE(Download());
    EXPECT_TRUE(host.HasLine(L"INFO", L"Try unzipping old resource..."));
    EXPECT_TRUE(host.HasLine(L"INFO", L"Unzip failed, and restart downloading game resource!"));
    EXPECT_TRUE(WindowSaw("UpdateProgress(解压失败,,0,0)"));
    EXPECT_TRUE(Installed());
}

TEST_F(PackagePipeline, ResumesAt600AndAppendsTheRest)
{
    Configure(L"1.0.3.7", L"1.0.0.0");
    WriteAll(install / "qorn.zip", package.substr(0, 600));
    SetRecord(L"1.0.3.7", 600, static_cast<std::int64_t>(package.size()));
    ASSERT_TRUE(Download());
    const std::string requests = RequestsText();
    EXPECT_NE(requests.find("\"range\": \"bytes=600-\""), std::string::npos) << requests;
    EXPECT_NE(requests.find("\"status\": 206"), std::string::npos) << requests;
    EXPECT_TRUE(host.HasLine(L"INFO", L"Try Resuming download from break point."));
    EXPECT_TRUE(Installed());  // every entry passed its check value: the file was appended to
}

TEST_F(PackagePipeline, ResumeStartsFromThePartialFileWhenTheRecordRanAhead)
{
    Configure(L"1.0.3.7", L"1.0.0.0");
    WriteAll(install / "qorn.zip", package.substr(0, 450));  // bytes that never reached the disk
    SetRecord(L"1.0.3.7", 600, static_cast<std::int64_t>(package.size()));
    ASSERT_TRUE(Download());
    EXPECT_NE(RequestsText().find("bytes=450-"), std::string::npos);
    EXPECT_TRUE(Installed());
}

TEST_F(PackagePipeline, ChangedVersionDeletesThePartialFileAndStartsOver)
{
    Configure(L"1.0.3.7", L"1.0.0.0");
    WriteAll(install / "qorn.zip", std::string(600, 'x'));
    SetRecord(L"1.0.3.6", 600, 1000);
    ASSERT_TRUE(Download());
    EXPECT_TRUE(host.HasLine(L"INFO",
                             L"Could not resume from break point because of the different version between local "
                             L"machine and remote server..."));
    EXPECT_EQ(RequestsText().find("bytes="), std::string::npos);
    EXPECT_TRUE(Installed());
}

TEST_F(PackagePipeline, OldPackageThatCannotBeDeletedFailsInsteadOfBeingAppendedTo)
{
    Configure(L"1.0.3.7", L"1.0.0.0");
    // A folder in the package's place: it opens for reading but cannot be removed.
    fs::create_directories(install / "qorn.zip" / "locked");
    EXPECT_FALSE(Download());
    EXPECT_TRUE(host.HasLine(L"ERROR", L"old package cannot be deleted: " + (install / "qorn.zip").wstring()));
    EXPECT_EQ(RequestsText().find(kPackagePath), std::string::npos);
    EXPECT_TRUE(fs::exists(install / "qorn.zip" / "locked"));
}

// A host that ignores Range fails the run that asked for one, without appending; the partial
// package and the record are reset so the next start fetches the whole package and completes.
TEST_F(PackagePipeline, HostIgnoringRangeFailsOnceThenTheNextStartCompletes)
{
    Configure(L"1.0.3.7", L"1.0.0.0");
    ASSERT_TRUE(channel.SetFault(kPackagePath, R"("ignore_range": true)"));
    WriteAll(install / "qorn.zip", package.substr(0, 600));
    SetRecord(L"1.0.3.7", 600, static_cast<std::int64_t>(package.size()));
    EXPECT_FALSE(Download());
    EXPECT_TRUE(host.HasLine(L"ERROR", L"download is error!"));
    EXPECT_TRUE(WindowSaw("UpdateProgress(更新失败,请检查网络:104,,0,0)"));
    EXPECT_EQ(host.Reports().back(), L"message:game download failed");
    EXPECT_FALSE(fs::exists(install / "qorn.zip"));
    EXPECT_EQ(ReadAll(install / "tempdownload.dat"), "downloadVersion=0.0.0.0\noffset=0\ntotalSize=0\n");

    Restart();
    ASSERT_TRUE(channel.ClearLogs());
    ASSERT_TRUE(Download());
    EXPECT_TRUE(Installed());
    EXPECT_EQ(RequestsText().find("bytes="), std::string::npos) << "the second start asks for the whole package";
}

// Only a successful answer that states the package's length moves the recorded total: before
// any answer libcurl reports a total of 0, and an error page has a length of its own.
struct FailedResumeCase {
    const char* what;
    const char* fault;  // on the package path; empty: the URL leads to a refused port
};

class FailedResume : public PackagePipeline, public ::testing::WithParamInterface<FailedResumeCase> {};

TEST_P(FailedResume, KeepsThePartialPackageAndItsRecord)
{
    Configure(L"1.0.3.7", L"1.0.0.0");
    const std::int64_t total = static_cast<std::int64_t>(package.size());
    const std::string partial = package.substr(0, 600);
    WriteAll(install / "qorn.zip", partial);
    SetRecord(L"1.0.3.7", 600, total);
    if (*GetParam().fault) {
        ASSERT_TRUE(channel.SetFault(kPackagePath, GetParam().fault));
    } else {
        for (const wchar_t* key : {L"ClientDownloadUrl", L"Client32DownloadUrl"})
            state.remoteConfig[key] = L"http://127.0.0.1:1/packages/{ditch_name}/qorn_{version}.zip";
    }
    EXPECT_FALSE(Download()) << GetParam().what;
    EXPECT_EQ(ReadAll(install / "qorn.zip"), partial) << "nothing but package bytes may be appended";
    Restart();
    EXPECT_EQ(state.resumeFrom.load(), 600);
    EXPECT_EQ(state.downloadTotal.load(), total);

    Configure(L"1.0.3.7", L"1.0.0.0");
    ASSERT_TRUE(channel.ClearFaults(kPackagePath));
    ASSERT_TRUE(Download());
    EXPECT_NE(RequestsText().find("bytes=600-"), std::string::npos);
    EXPECT_TRUE(Installed());
}

INSTANTIATE_TEST_SUITE_P(Table, FailedResume,
                         ::testing::Values(FailedResumeCase{"refused connection", ""},
                                           FailedResumeCase{"service unavailable with a page", R"("status": 503)"}));

// The package changed on the server between two starts: its bytes must not be spliced onto the
// partial old package. With the validator of the first answer in the record, the resumed
// request carries If-Range and the host answers with the whole new package; a record without
// one (an older launcher's) is still caught when the 206's total differs. Either way the new
// package is fetched from the start in the same run.
struct ChangedCase {
    const char* what;
    long sizeChange;   // bytes the new payload has more than the old
    bool validator;    // the record carries the validator (the host sends one)
};

void PrintTo(const ChangedCase& c, std::ostream* os) { *os << c.what; }

class ChangedPackage : public PackagePipeline, public ::testing::WithParamInterface<ChangedCase> {};

TEST_P(ChangedPackage, IsFetchedWholeInsteadOfSpliced)
{
    Configure(L"1.0.3.7", L"1.0.0.0");
    ASSERT_TRUE(channel.SetFault(kPackagePath, GetParam().validator ? R"("drop_after": 1000000, "times": 1)"
                                                                    : R"("drop_after": 1000000, "hide_validators": true, "times": 1)"));
    EXPECT_FALSE(Download());
    Restart();
    // The ETag of the first answer, as the fourth line of the record.
    const std::string record = ReadAll(install / "tempdownload.dat");
    EXPECT_EQ(record.find("\nvalidator=\"") != std::string::npos, GetParam().validator) << record;

    payload = testing_support::NoiseBytes(static_cast<std::size_t>(static_cast<long>(payload.size()) + GetParam().sizeChange), 99);
    ASSERT_TRUE(testing_support::WriteZip((root / "changed.zip").string(),
                                          {ZipEntry{"qorn/", ""}, ZipEntry{"qorn/qorn.exe", payload, false},
                                           ZipEntry{"qorn/readme.txt", "hello"}}));
    ASSERT_TRUE(channel.AddPackage(kPackagePath, (root / "changed.zip").string()));
    if (!GetParam().validator) {
        ASSERT_TRUE(channel.SetFault(kPackagePath, R"("hide_validators": true)"));
    }
    ASSERT_TRUE(channel.ClearLogs());

    ASSERT_TRUE(Download()) << GetParam().what;
    EXPECT_TRUE(Installed()) << GetParam().what;
    EXPECT_TRUE(host.HasLine(L"INFO", L"The package changed on the server: downloading it from the start."));
    const std::string requests = RequestsText();
    EXPECT_NE(requests.find("\"range\": \"bytes="), std::string::npos) << "the first request resumed";
    EXPECT_NE(requests.find("\"range\": null"), std::string::npos) << "the second fetched the whole package";
}

INSTANTIATE_TEST_SUITE_P(Table, ChangedPackage,
                         ::testing::Values(ChangedCase{"longer, with validator", 5000, true},
                                           ChangedCase{"shorter, with validator", -5000, true},
                                           ChangedCase{"same length, with validator", 0, true},
                                           ChangedCase{"longer, without validator", 5000, false},
                                           ChangedCase{"shorter, without validator", -5000, false}));

// A host whose ETag is weak (W/"..."): If-Range compares strongly, so a weak ETag never
// matches and a resume that sent one would fetch the whole package every time. The record keeps
// the Last-Modified instead when the answer has one; otherwise the resume goes without If-Range.
struct WeakETagCase {
    const char* what;
    const char* fault;       // besides the weak ETag
    bool recordsLastModified;  // the record's fourth line holds the Last-Modified; else no such line
};

void PrintTo(const WeakETagCase& c, std::ostream* os) { *os << c.what; }

class WeakETag : public PackagePipeline, public ::testing::WithParamInterface<WeakETagCase> {};

TEST_P(WeakETag, ResumesWithTheRestOfThePackage)
{
    const std::string faults = std::string(R"("weak_etag": true)") + GetParam().fault;
    Configure(L"1.0.3.7", L"1.0.0.0");
    ASSERT_TRUE(channel.SetFault(kPackagePath, faults + R"(, "drop_after": 1000000, "times": 1)"));
    EXPECT_FALSE(Download());
    Restart();
    const std::string record = ReadAll(install / "tempdownload.dat");
    EXPECT_EQ(record.find("W/"), std::string::npos) << record;
    EXPECT_EQ(record.find("\nvalidator=") != std::string::npos, GetParam().recordsLastModified) << record;
    if (GetParam().recordsLastModified) EXPECT_NE(record.find(" GMT\n"), std::string::npos) << record;

    ASSERT_TRUE(channel.SetFault(kPackagePath, faults));
    ASSERT_TRUE(channel.ClearLogs());
    ASSERT_TRUE(Download()) << GetParam().what;
    EXPECT_TRUE(Installed());
    EXPECT_FALSE(host.HasLine(L"INFO", L"The package changed on the server: downloading it from the start."));
    const std::string requests = RequestsText();
    EXPECT_NE(requests.find("\"status\": 206"), std::string::npos) << requests;
    EXPECT_EQ(requests.find("\"range\": null"), std::string::npos) << "the whole package was fetched again";
    EXPECT_EQ(requests.find("\"If-Range\", \"W/"), std::string::npos) << requests;
    const bool sentIfRange = requests.find("\"If-Range\"") != std::string::npos;
    EXPECT_EQ(sentIfRange, GetParam().recordsLastModified) << requests;
}

INSTANTIATE_TEST_SUITE_P(Table, WeakETag,
                         ::testing::Values(WeakETagCase{"with Last-Modified", "", true},
                                           WeakETagCase{"without Last-Modified", R"(, "hide_last_modified": true)", false}));

TEST(PackageValidator, AStrongETagElseLastModifiedElseNothing)
{
    const std::string date = "Thu, 01 Jan 1970 00:00:00 GMT";
    EXPECT_EQ(core::PackageValidator({200, "\"abc\"", date}), "\"abc\"");
    EXPECT_EQ(core::PackageValidator({200, "W/\"abc\"", date}), date);
    EXPECT_EQ(core::PackageValidator({200, "W/\"abc\"", ""}), "");
    EXPECT_EQ(core::PackageValidator({200, "", date}), date);
    EXPECT_FALSE(core::UsableInIfRange("W/\"abc\""));
    EXPECT_FALSE(core::UsableInIfRange(""));
    EXPECT_TRUE(core::UsableInIfRange(date));
}

// A channel that publishes the package's SHA-256: a package that does not match is a failed
// download whose next start fetches the whole package again; a matching one installs.
TEST_F(PackagePipeline, PublishedDigestIsCheckedBeforeUnpacking)
{
    core::Sha256 sha;
    sha.Update(package.data(), package.size());
    const std::string digest = sha.HexDigest();
    std::string wrong = digest;
    wrong[0] = wrong[0] == '0' ? '1' : '0';

    Configure(L"1.0.3.7", L"1.0.0.0");
    state.remoteConfig[L"ClientPackageSha256"] = core::Utf8ToWide(wrong);
    EXPECT_FALSE(Download());
    EXPECT_TRUE(WindowSaw("UpdateProgress(更新失败,请检查网络:104,,0,0)"));
    EXPECT_FALSE(fs::exists(install / "client" / "qorn" / "qorn.exe")) << "nothing unpacked";
    EXPECT_FALSE(fs::exists(install / "qorn.zip"));
    EXPECT_EQ(ReadAll(install / "tempdownload.dat"), "downloadVersion=0.0.0.0\noffset=0\ntotalSize=0\n");

    Restart();
    ASSERT_TRUE(channel.ClearLogs());
    Configure(L"1.0.3.7", L"1.0.0.0");
    // Upper case as some tools print it.
    std::string upper = digest;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    state.remoteConfig[L"ClientPackageSha256"] = core::Utf8ToWide(upper);
    ASSERT_TRUE(Download());
    EXPECT_TRUE(Installed());
    EXPECT_TRUE(host.HasLine(L"INFO", L"package digest verified"));
    EXPECT_EQ(RequestsText().find("bytes="), std::string::npos);
}

// A package on disk that unpacks to the very same files but is not the published package (one
// byte of its first entry's local header, the modification time, which neither the walk nor
// any entry's check value looks at, differs): only the digest check can refuse it.
class PublishedDigest : public PackagePipeline {
protected:
    void SetUp() override
    {
        PackagePipeline::SetUp();
        core::Sha256 sha;
        sha.Update(package.data(), package.size());
        Configure(L"1.0.3.7", L"1.0.0.0");
        state.remoteConfig[L"ClientPackageSha256"] = core::Utf8ToWide(sha.HexDigest());
        altered = package;
        altered[10] = static_cast<char>(altered[10] ^ 0x01);
    }
    std::string altered;
};

TEST_F(PublishedDigest, ACompletePackageOnDiskThatIsNotThePublishedOneIsFetchedAgain)
{
    WriteAll(install / "qorn.zip", altered);
    SetRecord(L"1.0.3.7", static_cast<std::int64_t>(package.size()), static_cast<std::int64_t>(package.size()));
    ASSERT_TRUE(Download());
    EXPECT_TRUE(host.HasLine(L"INFO", L"Try unzipping old resource..."));
    EXPECT_NE(RequestsText().find(kPackagePath), std::string::npos) << "the package on disk was unpacked";
    EXPECT_TRUE(Installed());
    EXPECT_TRUE(host.HasLine(L"INFO", L"package digest verified"));
}

TEST_F(PublishedDigest, ACompletePartialPackageThatIsNotThePublishedOneIsFetchedAgain)
{
    WriteAll(install / "qorn.zip", altered);
    SetRecord(L"1.0.3.7", 600, static_cast<std::int64_t>(package.size()));  // the record lags
    ASSERT_TRUE(Download());
    EXPECT_NE(RequestsText().find(kPackagePath), std::string::npos) << "the package on disk was unpacked";
    EXPECT_TRUE(Installed());
}

TEST_F(PublishedDigest, AResumedPackageWhoseFirstPartIsNotThePublishedOneIsNeverUnpacked)
{
    WriteAll(install / "qorn.zip", altered.substr(0, 600));
    SetRecord(L"1.0.3.7", 600, static_cast<std::int64_t>(package.size()));
    EXPECT_FALSE(Download());
    EXPECT_NE(RequestsText().find("bytes=600-"), std::string::npos);
    EXPECT_FALSE(fs::exists(install / "client" / "qorn" / "qorn.exe")) << "nothing unpacked";
    EXPECT_FALSE(fs::exists(install / "qorn.zip"));
    EXPECT_TRUE(host.HasLine(L"ERROR", L"the package is not the one the channel published: the next start downloads "
                                       L"the whole package"));
}

// A launcher with channel keys writes no byte past the signed "ClientPackageSize": an answer
// longer than that, one that never ends, or a 206 stating another total stops the transfer,
// and what was written is deleted. A launcher without keys ignores the size.
class SignedPackageSize : public PackagePipeline {
protected:
    void SetUp() override
    {
        PackagePipeline::SetUp();
        channelKeys = {core::ChannelPublicKey{}};  // the download reads no key, only that there are some
        Configure(L"1.0.3.7", L"1.0.0.0");
        SetSize(static_cast<std::int64_t>(package.size()));
    }
    void SetSize(std::int64_t size) { state.remoteConfig[L"ClientPackageSize"] = std::to_wstring(size); }
    void ExpectStoppedAndDeleted(std::int64_t size)
    {
        EXPECT_TRUE(WindowSaw("UpdateProgress(更新失败,请检查网络:104,,0,0)"));
        const std::wstring stopped = L"the answer goes on past the package's signed size of " + std::to_wstring(size) + L" bytes";
        bool logged = false;
        for (const auto& line : host.Lines()) logged = logged || line.text.rfind(stopped, 0) == 0;
        EXPECT_TRUE(logged);
        EXPECT_TRUE(host.HasLine(L"ERROR", L"the package host sent more than the package's signed size: the next "
                                           L"start downloads the whole package"));
        EXPECT_FALSE(fs::exists(install / "qorn.zip")) << "what was written is deleted";
        EXPECT_FALSE(fs::exists(install / "client" / "qorn" / "qorn.exe"));
        EXPECT_EQ(ReadAll(install / "tempdownload.dat"), "downloadVersion=0.0.0.0\noffset=0\ntotalSize=0\n");
    }
};

TEST_F(SignedPackageSize, APackageOfItsSignedSizeInstalls)
{
    ASSERT_TRUE(Download());
    EXPECT_TRUE(Installed());
}

TEST_F(SignedPackageSize, AnAnswerLongerThanTheSignedSizeStopsAtIt)
{
    SetSize(static_cast<std::int64_t>(package.size()) - 1);
    EXPECT_FALSE(Download());
    ExpectStoppedAndDeleted(static_cast<std::int64_t>(package.size()) - 1);
}

TEST_F(SignedPackageSize, AnAnswerThatNeverEndsStopsAtTheSignedSize)
{
    ASSERT_TRUE(channel.SetFault(kPackagePath, R"("endless": true)"));
    EXPECT_FALSE(Download());
    ExpectStoppedAndDeleted(static_cast<std::int64_t>(package.size()));
}

TEST_F(SignedPackageSize, A206WithAnotherTotalThanTheSignedSizeIsRefused)
{
    const std::int64_t size = static_cast<std::int64_t>(package.size());
    SetSize(size + 1);
    WriteAll(install / "qorn.zip", package.substr(0, 600));
    SetRecord(L"1.0.3.7", 600, size + 1);
    EXPECT_FALSE(Download());
    EXPECT_TRUE(host.HasLine(L"ERROR", L"the answer's package has " + std::to_wstring(size) +
                                           L" bytes, the signed one " + std::to_wstring(size + 1)));
    EXPECT_FALSE(fs::exists(install / "qorn.zip"));
    EXPECT_FALSE(fs::exists(install / "client" / "qorn" / "qorn.exe"));
}

TEST_F(SignedPackageSize, ALauncherWithoutKeysIgnoresTheSize)
{
    channelKeys.clear();
    SetSize(1);
    ASSERT_TRUE(Download());
    EXPECT_TRUE(Installed());
}

// The transfer ended but the record was written before its last bytes: unpack, fetch nothing.
TEST_F(PackagePipeline, CompletePackageWithALaggingRecordIsUnpacked)
{
    Configure(L"1.0.3.7", L"1.0.0.0");
    WriteAll(install / "qorn.zip", package);
    SetRecord(L"1.0.3.7", 600, static_cast<std::int64_t>(package.size()));
    ASSERT_TRUE(Download());
    EXPECT_TRUE(Installed());
    EXPECT_EQ(RequestsText().find(kPackagePath), std::string::npos);
}

// A hostile length (the package travels over plain HTTP) ends the transfer instead of
// overflowing the figures; nothing reaches the resume values.
TEST_F(PackagePipeline, LengthBeyondWhatCanBeSummedEndsTheTransfer)
{
    SetRecord(L"1.0.3.7", 1000, 5000);
    core::UpdateContext ctx = Ctx();
    core::TransferProgress progress{ctx, nullptr};
    EXPECT_NE(core::OnTransferProgress(&progress, INT64_MAX - 807, 0, 0, 0), 0);
    EXPECT_EQ(state.downloadOffset.load(), 1000);
    EXPECT_EQ(state.downloadTotal.load(), 5000);
    EXPECT_TRUE(window.Calls().empty());
}

TEST_F(PackagePipeline, DroppedConnectionResumesOnTheNextRunToAnIdenticalPackage)
{
    Configure(L"1.0.3.7", L"1.0.0.0");
    ASSERT_TRUE(channel.SetFault(kPackagePath, R"("drop_after": 1000000, "times": 1)"));
    EXPECT_FALSE(Download());
    const std::int64_t partial = static_cast<std::int64_t>(fs::file_size(install / "qorn.zip"));
    EXPECT_GT(partial, 0);
    EXPECT_LE(partial, 1000000);
    EXPECT_EQ(ReadAll(install / "qorn.zip"), package.substr(0, static_cast<std::size_t>(partial)));
    Restart();
    EXPECT_EQ(state.downloadTotal.load(), static_cast<std::int64_t>(package.size()));
    ASSERT_TRUE(Download());
    EXPECT_NE(RequestsText().find("bytes=" + std::to_string(partial) + "-"), std::string::npos);
    EXPECT_TRUE(Installed());
}

TEST_F(PackagePipeline, StalledTransferFailsInsteadOfWaitingForEver)
{
    Configure(L"1.0.3.7", L"1.0.0.0");
    ASSERT_TRUE(channel.SetFault(kPackagePath, R"("stall_after": 1000, "stall_seconds": 30)"));
    EXPECT_FALSE(Download());
    EXPECT_TRUE(host.HasLine(L"ERROR", L"download is error!"));
}

TEST_F(PackagePipeline, ServerErrorFailsTheDownload)
{
    Configure(L"1.0.3.7", L"1.0.0.0");
    ASSERT_TRUE(channel.SetFault(kPackagePath, R"("status": 404)"));
    EXPECT_FALSE(Download());
    EXPECT_TRUE(WindowSaw("UpdateProgress(更新失败,请检查网络:104,,0,0)"));
    EXPECT_FALSE(Installed());
}

TEST_F(PackagePipeline, PackageThatIsNoArchiveFailsTheInstall)
{
    WriteAll(root / "not-a-zip.zip", std::string(5000, 'z'));
    ASSERT_TRUE(channel.AddPackage(kPackagePath, (root / "not-a-zip.zip").string()));
    Configure(L"1.0.3.7", L"1.0.0.0");
    EXPECT_FALSE(Download());
    EXPECT_TRUE(host.HasLine(L"ERROR", L"zipfile is NULL!"));
    EXPECT_TRUE(fs::exists(install / "qorn.zip"));  // kept for the next run's decision
}

struct MissingKeyCase {
    const char* what;
    bool wow64;
    std::vector<std::wstring> dropKeys;
    const wchar_t* error;
};

class PackagePipelineKeys : public PackagePipeline, public ::testing::WithParamInterface<MissingKeyCase> {};

TEST_P(PackagePipelineKeys, MissingKeyEndsBeforeAnyTransfer)
{
    Configure(L"1.0.3.7", L"1.0.0.0");
    for (const auto& key : GetParam().dropKeys) state.remoteConfig.erase(key);
    host.wow64 = GetParam().wow64;
    EXPECT_FALSE(Download()) << GetParam().what;
    EXPECT_TRUE(host.HasLine(L"ERROR", GetParam().error)) << GetParam().what;
    EXPECT_EQ(RequestsText().find(kPackagePath), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PackagePipelineKeys,
    ::testing::Values(MissingKeyCase{"32-bit without its URL", false, {L"Client32DownloadUrl"}, L"ClientDownloadUrl is NotFound!"},
                      MissingKeyCase{"64-bit without its URL", true, {L"ClientDownloadUrl"}, L"ClientDownloadUrl is NotFound!"},
                      MissingKeyCase{"no ClientVersion", true, {L"ClientVersion"}, L"ClientVersion is NotFound!"}));

TEST_F(PackagePipeline, NoWindowEndsAtOnce)
{
    Configure(L"1.0.3.7", L"1.0.0.0");
    core::UpdateContext ctx = Ctx();
    ctx.window = nullptr;
    EXPECT_FALSE(core::OnDownLoad(ctx));
    EXPECT_TRUE(host.HasLine(L"ERROR", L"lpParameter is NULL!"));
}

class ConfigFetch : public PackagePipeline {
protected:
    int Fetch(const std::string& path)
    {
        core::UpdateContext ctx = Ctx();
        return core::FetchRemoteConfig(ctx, core::Utf8ToWide(channel.Url(path)));
    }
};

TEST_F(ConfigFetch, StoresTheDocument)
{
    ASSERT_TRUE(channel.SetConfig("ClientVersion=1.0.3.7\nEntryUrl=http://e/x?a=1&b=2\n"));
    EXPECT_EQ(Fetch("/api/merth/ditches/{ditch_name}/client_config_{ditch_name}.php"), core::kConfigFetched);
    EXPECT_EQ(state.remoteConfig.at(L"ClientVersion"), L"1.0.3.7");
    EXPECT_EQ(core::GetEntryUrl(state.remoteConfig), L"http://e/x?a=1&b=2");
    EXPECT_TRUE(host.HasLine(L"INFO", core::Utf8ToWide(channel.Url(kConfigPath))));
}

TEST_F(ConfigFetch, FollowsARedirectToTheDocument)
{
    ASSERT_TRUE(channel.SetConfig("ClientVersion=2.0.0.0"));
    ASSERT_TRUE(channel.SetFault("/moved", "\"redirect_to\": \"" + kConfigPath + "\""));
    EXPECT_EQ(Fetch("/moved"), core::kConfigFetched);
    EXPECT_EQ(state.remoteConfig.at(L"ClientVersion"), L"2.0.0.0");
}

struct FetchFailureCase {
    const char* what;
    std::string fault;
    const wchar_t* logLine;
};

class ConfigFetchFailures : public ConfigFetch, public ::testing::WithParamInterface<FetchFailureCase> {};

TEST_P(ConfigFetchFailures, GiveCode102AndLeaveTheStoreEmpty)
{
    ASSERT_TRUE(channel.SetFault(kConfigPath, GetParam().fault));
    EXPECT_EQ(Fetch(kConfigPath), core::kConfigRequestFailed) << GetParam().what;
    EXPECT_TRUE(state.remoteConfig.empty());
    EXPECT_TRUE(host.HasLine(L"ERROR", GetParam().logLine)) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConfigFetchFailures,
    ::testing::Values(FetchFailureCase{"server error", R"("status": 500)", L"res:0, httpStatusCode:500"},
                      FetchFailureCase{"redirect to a missing page", R"("redirect_to": "/nowhere")",
                                       L"res:0, httpStatusCode:404"},
                      FetchFailureCase{"dropped connection", R"("drop_after": 3)", L"res:18, httpStatusCode:200"}));

// Past 1 MiB received the transfer ends; bytes after a zero byte, which the text never holds,
// count too (a server sending chunks that begin with one must not be followed for ever).
TEST_F(ConfigFetch, OversizedDocumentIsRefused)
{
    for (const char filler : {'x', '\0'}) {
        ASSERT_TRUE(channel.SetConfig("ClientVersion=1.0.3.7\n" + std::string(2 * 1024 * 1024, filler)));
        EXPECT_EQ(Fetch(kConfigPath), core::kConfigRequestFailed) << "filler " << int(filler);
        EXPECT_TRUE(state.remoteConfig.empty());
        EXPECT_TRUE(host.HasLine(L"ERROR", L"res:23, httpStatusCode:200"));
    }
    // Just under the cap is a document.
    ASSERT_TRUE(channel.SetConfig("ClientVersion=1.0.3.7\n" + std::string(1024 * 1024 - 22, '\0')));
    EXPECT_EQ(Fetch(kConfigPath), core::kConfigFetched);
    EXPECT_EQ(state.remoteConfig.at(L"ClientVersion"), L"1.0.3.7");
}

TEST_F(ConfigFetch, ServerThatNeverAnswersFailsWithin102)
{
    core::UpdateContext ctx = Ctx();
    ctx.limits.configTotalSeconds = 1;
    EXPECT_EQ(core::FetchRemoteConfig(ctx, core::Utf8ToWide(SilentUrl("/config.php"))), core::kConfigRequestFailed);
    EXPECT_TRUE(host.HasLine(L"ERROR", L"res:28, httpStatusCode:0"));  // CURLE_OPERATION_TIMEDOUT
    EXPECT_TRUE(state.remoteConfig.empty());
}

TEST_F(ConfigFetch, DocumentWithCrLfLinesGivesAUsablePackageUrl)
{
    ASSERT_TRUE(channel.SetConfig("ClientVersion=1.0.3.7\r\nClientMiniUpdateVersion=1.0.0.0\r\nClientDownloadUrl=" +
                                  channel.BaseUrl() + "/packages/{ditch_name}/qorn_{version}.zip\r\nClient32DownloadUrl=" +
                                  channel.BaseUrl() + "/packages/{ditch_name}/qorn_{version}.zip\r\n"));
    ASSERT_EQ(Fetch(kConfigPath), core::kConfigFetched);
    state.remoteClientVersion = core::ParseClientVersion(state.remoteConfig.at(L"ClientVersion"));
    EXPECT_TRUE(Download());
    EXPECT_TRUE(Installed());
}

TEST_F(ConfigFetch, UnreachableServerGivesCode102)
{
    core::UpdateContext ctx = Ctx();
    // Port 1 on loopback: nothing listens there.
    EXPECT_EQ(core::FetchRemoteConfig(ctx, L"http://127.0.0.1:1/config.php"), core::kConfigRequestFailed);
    EXPECT_TRUE(host.HasLine(L"ERROR", L"res:7, httpStatusCode:0"));
}

}  // namespace
