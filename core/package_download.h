// Bringing the game package into the install directory: resume, reuse of a complete package on
// disk, or a fresh transfer, then extraction.
#pragma once
#include <curl/curl.h>

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

#include "core/update_context.h"

namespace core {

std::wstring PackageFile(UpdateContext& ctx);

// True when a package was installed (just fetched, or already complete on disk); false on any
// failure, after the failure was shown and logged.
bool OnDownLoad(UpdateContext& ctx);

// The package file's stdio buffer, in memory of our own: handed no memory, glibc's setvbuf
// keeps its default buffer of a few KiB whatever size is asked for, and every few KiB of the
// package would then cost a write to the system. Must outlive the FILE it serves.
class PackageWriteBuffer {
public:
    static constexpr std::size_t kBytes = 256 * 1024;
    // Makes this the full buffer of file, which nothing has been written to yet.
    bool Attach(std::FILE* file);

private:
    std::unique_ptr<char[]> m_bytes{new char[kBytes]};
};

struct TransferOutcome {
    CURLcode result;
    long httpStatus;  // 0 when there was no answer
};

// Runs the package transfer on an easy handle into the open file, from ctx.state.resumeFrom on,
// with the progress callback keeping the resume values and the window current.
TransferOutcome TransferPackage(UpdateContext& ctx, CURL* curl, const std::string& ansiUrl, std::FILE* file);

// libcurl write callback: writes into the open package file; 0 without one.
std::size_t OnPackageData(char* data, std::size_t size, std::size_t count, void* file);

// What the transfer-information callback keeps from one call to the next of a transfer.
struct TransferProgress {
    UpdateContext& ctx;
    int shownPercent = -1;  // the percent the window shows; -1 before the transfer's first call
};

// libcurl transfer-information callback; target is the transfer's TransferProgress. Keeps the
// resume values current on every call and shows the percent of the whole package when it
// changes. Always 0: the launcher never cancels.
int OnTransferProgress(void* target, curl_off_t totalToDownload, curl_off_t downloadedNow, curl_off_t totalToUpload,
                       curl_off_t uploadedNow);

}  // namespace core
