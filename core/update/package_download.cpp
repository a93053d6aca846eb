#include "core/update/package_download.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "core/update/curl_handle.h"
#include "core/update/download_plan.h"
#include "core/update/package_extraction.h"
#include "core/update/remote_config.h"
#include "core/diag/report_events.h"
#include "core/update/resume_record.h"
#include "core/update/server_check.h"
#include "core/update/sha256.h"
#include "core/update/signed_config.h"

namespace core {

namespace {

const char kFunction[] = "CGameRemoteConfig::OnDownLoad";

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// libcurl's receive buffer (16 KiB unless set). Each round of its transfer loop polls, receives
// and calls the progress callback; larger receives mean fewer rounds per byte. As large as the
// stdio buffer, so one receive fills it at most once.
constexpr long kTransferBufferBytes = static_cast<long>(PackageWriteBuffer::kBytes);

std::wstring FormatLong(const wchar_t* format, long long a, long long b)
{
    wchar_t text[160];
    std::swprintf(text, sizeof text / sizeof text[0], format, a, b);
    return text;
}

// Deletes an old package before a fresh transfer. False when one exists and cannot be deleted:
// appending to it would corrupt the new package.
bool DeleteOldPackage(UpdateContext& ctx, const std::wstring& package)
{
    // A package that cannot be opened for reading still exists when it has a size.
    const bool exists = ctx.host.FileSize(package) >= 0 || UniqueFile{ctx.host.OpenFile(package, "rb")};
    if (exists) {
        if (!ctx.host.RemoveFile(package)) {
            ctx.Error(kFunction, __LINE__, L"old package cannot be deleted: " + package);
            return false;
        }
    }
    return true;
}

// The resume values of a transfer that starts from byte 0 of a package not yet identified.
void StartOverResumeValues(PipelineState& st)
{
    st.resumeFrom = 0;
    st.downloadOffset = 0;
    st.downloadTotal = 0;
    st.packageValidator.Set({});
}

// This run fails, but the package on disk and the record are reset so the next start fetches
// the whole package again: after a host answered a resume with the whole package (it ignores
// Range; asking for a range again would fail for good), or a package whose digest is wrong.
void ForgetPackage(UpdateContext& ctx, const std::wstring& package, const std::wstring& why)
{
    ctx.Error(kFunction, __LINE__, why + L": the next start downloads the whole package");
    ctx.host.RemoveFile(package);
    ctx.state.downloadVersion = {};
    StartOverResumeValues(ctx.state);
    WriteResumeRecord(ctx);
}

// A channel may publish the package's SHA-256 ("ClientPackageSha256"): then a package must
// match it before it is unpacked. True when there is none to check. Reads through held, the
// package opened so that nothing else may write it until the walk is over: the bytes checked
// are the bytes unpacked.
bool PackageMatchesDigest(UpdateContext& ctx, std::FILE* held)
{
    const std::wstring* published = FindConfigValue(ctx.state.remoteConfig, kPackageSha256Key);
    if (!published || published->empty()) return true;
    if (!held) {
        ctx.Error(kFunction, __LINE__, L"the package cannot be opened for its digest check");
        return false;
    }
    std::string expected;
    for (wchar_t c : *published) expected += static_cast<char>(std::tolower(static_cast<unsigned char>(c < 0x80 ? c : '?')));
    Sha256 sha;
    std::vector<char> block(PackageWriteBuffer::kBytes);
    std::size_t got;
    while ((got = std::fread(block.data(), 1, block.size(), held)) > 0) sha.Update(block.data(), got);
    if (std::ferror(held)) return false;
    const std::string actual = sha.HexDigest();
    if (actual == expected) {
        ctx.Info(kFunction, __LINE__, L"package digest verified");
        return true;
    }
    ctx.Error(kFunction, __LINE__,
              L"package digest mismatch: expected " + *published + L", got " + std::wstring(actual.begin(), actual.end()));
    return false;
}

// Unpacks a package that is already on disk; true when that completed the install.
bool UnzipPackageOnDisk(UpdateContext& ctx, const std::wstring& package)
{
    ctx.Info(kFunction, __LINE__, L"Try unzipping old resource...");
    // Held from the digest check to the end of the walk; UnzipFile lets go of it (absent, when
    // there is no package on disk, the walk fails as the missing package it is).
    UniqueFile held(ctx.host.OpenFileDenyingWrites(package));
    if (PackageMatchesDigest(ctx, held.get()) && UnzipFile(ctx, package, held.release())) {
        ctx.Info(kFunction, __LINE__, L"Unzip success!");
        return true;
    }
    if (ctx.state.stop.Requested()) {
        ctx.Info(kFunction, __LINE__, L"Unzip stopped: the launcher is closing; the package stays for the next start");
        return false;
    }
    ctx.Info(kFunction, __LINE__, L"Unzip failed, and restart downloading game resource!");
    return false;
}

// After the package on disk did not install: a fresh download, unless the launcher is closing,
// which stopped the unpacking and must not cost the player the package.
bool StartOverUnlessStopped(UpdateContext& ctx, bool& fresh)
{
    if (ctx.state.stop.Requested()) return false;
    fresh = true;
    return true;
}

// Applies the decision table; returns false when the run must end in failure, true when a
// transfer follows, and sets installed when the package on disk completed the install.
bool PrepareTransfer(UpdateContext& ctx, const std::wstring& package, bool& installed)
{
    PipelineState& st = ctx.state;
    installed = false;
    bool fresh = false;
    switch (DecideDownload(st.downloadVersion, st.miniUpdateVersion, st.resumeFrom, st.downloadTotal,
                           st.remoteClientVersion)) {
    case DownloadRow::FreshBelowMiniUpdate:
        ctx.Info(kFunction, __LINE__,
                 L"Download version is elder than mini update version. Restart downloading resources.");
        fresh = true;
        break;
    case DownloadRow::TryPackageOnDisk:
        installed = UnzipPackageOnDisk(ctx, package);
        if (installed) return true;
        if (!StartOverUnlessStopped(ctx, fresh)) return false;
        break;
    case DownloadRow::Resume: {
        ctx.Info(kFunction, __LINE__, L"Try Resuming download from break point.");
        const std::int64_t onDisk = ctx.host.FileSize(package);
        switch (PlanResume(onDisk, st.downloadTotal)) {
        case ResumeAction::ContinueAtFileLength:
            ctx.Info(kFunction, __LINE__,
                     FormatLong(L"Resuming at byte %lld (recorded %lld).", onDisk, st.resumeFrom.load()));
            st.resumeFrom = onDisk;
            st.downloadOffset = onDisk;
            break;
        case ResumeAction::UnpackComplete:
            // The transfer ended but the record was written before its last bytes arrived.
            ctx.Info(kFunction, __LINE__, FormatLong(L"Partial package holds all %lld bytes of %lld: unpacking it.",
                                                     onDisk, st.downloadTotal));
            installed = UnzipPackageOnDisk(ctx, package);
            if (installed) return true;
            if (!StartOverUnlessStopped(ctx, fresh)) return false;
            break;
        case ResumeAction::StartOver:
            ctx.Info(kFunction, __LINE__,
                     FormatLong(L"Partial package holds %lld bytes of %lld: starting over.", onDisk, st.downloadTotal));
            fresh = true;
            break;
        }
        break;
    }
    case DownloadRow::FreshVersionChanged:
        ctx.Info(kFunction, __LINE__, L"Try Resuming download from break point.");
        ctx.Info(kFunction, __LINE__,
                 L"Could not resume from break point because of the different version between local machine "
                 L"and remote server...");
        fresh = true;
        break;
    }
    if (fresh) {
        st.resumeFrom = 0;
        if (!DeleteOldPackage(ctx, package)) return false;
    }
    return true;
}

}  // namespace

std::wstring PackageFile(UpdateContext& ctx)
{
    return ctx.host.JoinPath(ctx.paths.installDir, ctx.paths.gameCode + L".zip");
}

bool PackageWriteBuffer::Attach(std::FILE* file)
{
    return std::setvbuf(file, m_bytes.get(), _IOFBF, kBytes) == 0;
}

bool IsPackageAnswer(long httpStatus) { return httpStatus == 200 || httpStatus == 206; }

namespace {
void KeepResumeRecordCurrent(TransferProgress& progress, bool answerStatesLength)
{
    const auto now = std::chrono::steady_clock::now();
    const std::int64_t offset = progress.ctx.state.downloadOffset;
    if (progress.recordedOffset < 0) {
        // An offset of 0 would read as "no open transfer" at the next start.
        if (!answerStatesLength || offset <= 0) return;
    } else if (offset - progress.recordedOffset < kRecordEveryBytes || now - progress.recordedAt < kRecordEvery) {
        return;
    }
    // The record must not count bytes that are still in memory.
    if (progress.file && std::fflush(progress.file) != 0) return;
    if (ReplaceResumeRecord(progress.ctx)) {
        progress.recordedOffset = offset;
        progress.recordedAt = now;
    }
}

// "Name: value" of a header line, when its name is the given one (case-insensitive).
bool HeaderValue(const std::string& line, const char* name, std::string& value)
{
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) return false;
    const std::string key = line.substr(0, colon);
    const std::string wanted = name;
    if (key.size() != wanted.size() ||
        !std::equal(key.begin(), key.end(), wanted.begin(),
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b)); }))
        return false;
    std::size_t start = colon + 1, end = line.size();
    while (start < end && (line[start] == ' ' || line[start] == '\t')) ++start;
    while (end > start && (line[end - 1] == '\r' || line[end - 1] == '\n' || line[end - 1] == ' ')) --end;
    value = line.substr(start, end - start);
    return true;
}

// The total of "bytes a-b/total", -1 when there is none ("*") or it is not a number.
std::int64_t RangeTotal(const std::string& contentRange)
{
    const std::size_t slash = contentRange.rfind('/');
    if (slash == std::string::npos || slash + 1 >= contentRange.size()) return -1;
    std::int64_t total = 0;
    for (std::size_t i = slash + 1; i < contentRange.size(); ++i) {
        const char c = contentRange[i];
        if (c < '0' || c > '9' || total > (kMaxPackageBytes - (c - '0')) / 10) return -1;
        total = total * 10 + (c - '0');
    }
    return total;
}
}  // namespace

bool UsableInIfRange(const std::string& validator)
{
    return !validator.empty() && validator.compare(0, 2, "W/") != 0 && validator.compare(0, 2, "w/") != 0;
}

std::string PackageValidator(const AnswerHeaders& answer)
{
    if (UsableInIfRange(answer.etag)) return answer.etag;
    return answer.lastModified;
}

std::size_t OnPackageHeader(char* data, std::size_t size, std::size_t count, void* target)
{
    auto* sink = static_cast<PackageSink*>(target);
    const std::size_t bytes = size * count;
    if (!sink) return bytes;
    const std::string line(data, bytes);
    AnswerHeaders& answer = sink->answer;
    std::string value;
    if (line.compare(0, 5, "HTTP/") == 0) {
        answer = AnswerHeaders{};
        const std::size_t space = line.find(' ');
        if (space != std::string::npos) answer.status = std::strtol(line.c_str() + space + 1, nullptr, 10);
    } else if (HeaderValue(line, "ETag", value)) {
        answer.etag = value;
    } else if (HeaderValue(line, "Last-Modified", value)) {
        answer.lastModified = value;
    } else if (HeaderValue(line, "Content-Range", value)) {
        answer.rangeTotal = RangeTotal(value);
    } else if ((line == "\r\n" || line == "\n") && sink->ctx) {
        if (answer.status == 200 && sink->ctx->state.resumeFrom == 0) {
            // A fresh transfer: what identifies this package from now on.
            const std::string validator = PackageValidator(answer);
            sink->ctx->state.packageValidator.Set(ValidatorFitsRecord(validator) ? validator : std::string());
        } else if (answer.status == 206 && sink->signedSize >= 0 && answer.rangeTotal != sink->signedSize) {
            sink->ctx->Error(kFunction, __LINE__,
                             FormatLong(L"the answer's package has %lld bytes, the signed one %lld",
                                        answer.rangeTotal, sink->signedSize));
            sink->pastSignedSize = true;
        } else if (answer.status == 206 && answer.rangeTotal != sink->expectedTotal) {
            sink->ctx->Error(kFunction, __LINE__,
                             FormatLong(L"the answer's package has %lld bytes, the partial one %lld: it changed",
                                        answer.rangeTotal, sink->expectedTotal));
            sink->packageChanged = true;
        }
    }
    return bytes;
}

std::size_t OnPackageData(char* data, std::size_t size, std::size_t count, void* target)
{
    auto* sink = static_cast<PackageSink*>(target);
    if (!sink || !sink->file || sink->packageChanged || sink->pastSignedSize || !IsPackageAnswer(sink->answer.status))
        return 0;
    const std::int64_t bytes = static_cast<std::int64_t>(size * count);
    if (sink->signedSize >= 0 && bytes > sink->signedSize - sink->startOffset - sink->written) {
        if (sink->ctx)
            sink->ctx->Error(kFunction, __LINE__,
                             FormatLong(L"the answer goes on past the package's signed size of %lld bytes (%lld written)",
                                        sink->signedSize, sink->startOffset + sink->written));
        sink->pastSignedSize = true;
        return 0;
    }
    const std::size_t items = std::fwrite(data, size, count, sink->file);
    sink->written += static_cast<std::int64_t>(items * size);
    return items;
}

int OnTransferProgress(void* target, curl_off_t totalToDownload, curl_off_t downloadedNow, curl_off_t, curl_off_t)
{
    auto* progress = static_cast<TransferProgress*>(target);
    UpdateContext& ctx = progress->ctx;
    const std::int64_t resumeFrom = ctx.state.resumeFrom;
    if (!ProgressFiguresFit(resumeFrom, totalToDownload, downloadedNow)) {
        ctx.Error(kFunction, __LINE__,
                  FormatLong(L"the answer states %lld bytes after byte %lld: more than a package can be",
                             static_cast<long long>(totalToDownload), resumeFrom));
        return 1;  // ends the transfer as failed
    }
    if (!progress->sink || !IsPackageAnswer(progress->sink->answer.status)) return 0;
    const ProgressFigures f = ComputeProgress(resumeFrom, totalToDownload, downloadedNow);
    // The GUI thread may read these at any moment (the resume record is written from them when
    // the launcher closes), so they follow every call. The total only when the answer states
    // the package's length: an answer without one says nothing about it.
    ctx.state.downloadOffset = f.downloadOffset;
    if (totalToDownload > 0) ctx.state.downloadTotal = f.downloadTotal;
    KeepResumeRecordCurrent(*progress, totalToDownload > 0);
    // libcurl calls at every round of its loop and at least once a second, many times per
    // percent; each window call waits for the GUI thread. The window shows a new detail text
    // only with a new percent, so calls that keep the percent would change nothing on screen.
    if (f.percent == progress->shownPercent) return 0;
    progress->shownPercent = f.percent;
    ctx.UpdateProgress(L"", f.detail, f.percent, 1);
    ctx.ShowProgressControls(true);
    return 0;
}

TransferOutcome TransferPackage(UpdateContext& ctx, CURL* curl, const std::string& ansiUrl, std::FILE* file,
                                std::int64_t signedSize)
{
    curl_easy_setopt(curl, CURLOPT_URL, ansiUrl.c_str());
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    const std::int64_t resumeFrom = ctx.state.resumeFrom;
    PackageSink sink{file, &ctx, resumeFrom > 0 ? ctx.state.downloadTotal.load() : 0, AnswerHeaders{}, false};
    sink.signedSize = signedSize;
    sink.startOffset = resumeFrom;
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnPackageData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &OnPackageHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &sink);
    // A resumed request asks for the rest only of the package it began with: a host whose
    // package changed answers with the whole new one instead. Without a validator it can use,
    // the request goes without If-Range, and the 206's total still guards against a change.
    std::string validator = resumeFrom > 0 ? ctx.state.packageValidator.Get() : std::string();
    if (!UsableInIfRange(validator)) validator.clear();
    std::unique_ptr<curl_slist, void (*)(curl_slist*)> headers(
        validator.empty() ? nullptr : curl_slist_append(nullptr, ("If-Range: " + validator).c_str()), curl_slist_free_all);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    TransferProgress progress{ctx, &sink, file};
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &OnTransferProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &progress);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(resumeFrom));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, ctx.limits.connectTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, ctx.limits.stallSeconds);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kTransferBufferBytes);
    ServerCheckedTransfer checked{ctx, curl, kFunction};
    CheckServerBeforeEachRequest(checked);
    TransferOutcome outcome{curl_easy_perform(curl), 0};
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);  // the list ends with this call
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &outcome.httpStatus);
    outcome.packageChanged = sink.packageChanged ||
                             (!validator.empty() && outcome.result == CURLE_RANGE_ERROR && outcome.httpStatus == 200);
    outcome.pastSignedSize = sink.pastSignedSize;
    return outcome;
}

bool OnDownLoad(UpdateContext& ctx)
{
    ctx.Info(kFunction, __LINE__, L"OnDownLoad begin");
    if (!ctx.window) {
        ctx.Error(kFunction, __LINE__, L"lpParameter is NULL!");
        return false;
    }
    const std::wstring package = PackageFile(ctx);
    ctx.Info(kFunction, __LINE__, package);

    CurlHandle curl(ctx.newTransfer());
    if (!curl) {
        ctx.Error(kFunction, __LINE__, L"curl is NULL!");
        return false;
    }
    const RemoteConfigMap& config = ctx.state.remoteConfig;
    const std::wstring* urlTemplate =
        FindConfigValue(config, ctx.host.IsWow64() ? L"ClientDownloadUrl" : L"Client32DownloadUrl");
    if (!urlTemplate) {
        ctx.Error(kFunction, __LINE__, L"ClientDownloadUrl is NotFound!");
        return false;
    }
    const std::wstring* clientVersion = FindConfigValue(config, L"ClientVersion");
    if (!clientVersion) {
        ctx.Error(kFunction, __LINE__, L"ClientVersion is NotFound!");
        return false;
    }
    // A launcher with channel keys writes no more than the signed document's package size.
    std::int64_t signedSize = -1;
    if (!ctx.channelKeys.empty()) {
        const std::wstring* sizeText = FindConfigValue(config, kPackageSizeKey);
        std::uint64_t size = 0;
        if (!sizeText || !ParseDecimal(*sizeText, kMaxSignedNumber, size)) {
            ctx.Error(kFunction, __LINE__, L"ClientPackageSize is NotFound!");
            return false;
        }
        signedSize = static_cast<std::int64_t>(size);
    }
    const std::wstring url =
        ReplaceAll(ReplaceAll(*urlTemplate, L"{ditch_name}", ctx.paths.ditchCode), L"{version}", *clientVersion);
    ctx.Info(kFunction, __LINE__, url);
    ctx.host.ReportEventCode(kEventDownloadStart);
    ctx.host.ReportMessage(L"game download start, download url:" + url);

    bool installed = false;
    if (!PrepareTransfer(ctx, package, installed)) return false;
    if (installed) return true;

    ctx.state.downloadVersion = ctx.state.remoteClientVersion;
    const std::string ansiUrl = ctx.host.ToAnsi(url);
    TransferOutcome outcome{CURLE_OK, 0};
    bool flushed = false, closed = false;
    // A second round only when the package changed on the server since the partial download
    // began: its bytes would be spliced onto another package's, so it starts over at once.
    for (int round = 0; round < 2; ++round) {
        PackageWriteBuffer buffer;  // before the file: it must outlive the FILE
        UniqueFile file(ctx.host.OpenFile(package, "ab"));
        if (!file) file.reset(ctx.host.OpenFile(package, "wb"));
        if (!file) {
            ctx.Error(kFunction, __LINE__, L"install_dir is NULL!");
            return false;
        }
        buffer.Attach(file.get());
        outcome = TransferPackage(ctx, curl.get(), ansiUrl, file.get(), signedSize);
        // Whatever stdio still holds must reach the disk before the package counts as complete.
        flushed = std::fflush(file.get()) == 0;
        closed = std::fclose(file.release()) == 0;
        if (!outcome.packageChanged || outcome.pastSignedSize || round > 0) break;
        ctx.Info(kFunction, __LINE__, L"The package changed on the server: downloading it from the start.");
        StartOverResumeValues(ctx.state);
        if (!DeleteOldPackage(ctx, package)) return false;
    }
    curl.reset();

    const bool transferred = outcome.result == CURLE_OK && IsPackageAnswer(outcome.httpStatus) && flushed && closed;
    if (outcome.pastSignedSize) {
        ForgetPackage(ctx, package, L"the package host sent more than the package's signed size");
    } else if (transferred) {
        // Held from the digest check to the end of the walk; UnzipFile lets go of it.
        UniqueFile held(ctx.host.OpenFileDenyingWrites(package));
        if (PackageMatchesDigest(ctx, held.get())) {
            ctx.host.ReportEventCode(kEventUnzipStart);
            ctx.host.ReportMessage(L"game download success");
            ctx.Info(kFunction, __LINE__, L"download is finish");
            return UnzipFile(ctx, package, held.release());
        }
        held.reset();  // the hold would keep the package from being deleted
        ForgetPackage(ctx, package, L"the package is not the one the channel published");
    }
    // libcurl reports a range error for any answer without the range asked for; only a 200
    // says the host ignores ranges (a 503 page says nothing about the package).
    if (outcome.result == CURLE_RANGE_ERROR && outcome.httpStatus == 200 && !outcome.packageChanged)
        ForgetPackage(ctx, package, L"the package host ignores byte ranges");
    ctx.UpdateProgress(L"更新失败,请检查网络:104", L"", 0, 0);
    ctx.ShowProgressControls(false);
    ctx.Error(kFunction, __LINE__, L"download is error!");
    ctx.host.ReportMessage(L"game download failed");
    return false;
}

}  // namespace core
