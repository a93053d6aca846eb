// Bringing the game package into the install directory: resume, reuse of a complete package on
// disk, or a fresh transfer, then extraction.
#pragma once
#include <curl/curl.h>

#include <cstddef>
#include <cstdio>
#include <string>

#include "core/update_context.h"

namespace core {

std::wstring PackageFile(UpdateContext& ctx);

// True when a package was installed (just fetched, or already complete on disk); false on any
// failure, after the failure was shown and logged.
bool OnDownLoad(UpdateContext& ctx);

struct TransferOutcome {
    CURLcode result;
    long httpStatus;  // 0 when there was no answer
};

// Runs the package transfer on an easy handle into the open file, from ctx.state.resumeFrom on,
// with the progress callback keeping the resume values and the window current.
TransferOutcome TransferPackage(UpdateContext& ctx, CURL* curl, const std::string& ansiUrl, std::FILE* file);

// libcurl write callback: writes into the open package file; 0 without one.
std::size_t OnPackageData(char* data, std::size_t size, std::size_t count, void* file);

// libcurl transfer-information callback; target is the UpdateContext. Keeps the resume values
// current and shows the percent of the whole package. Always 0: the launcher never cancels.
int OnTransferProgress(void* target, curl_off_t totalToDownload, curl_off_t downloadedNow, curl_off_t totalToUpload,
                       curl_off_t uploadedNow);

}  // namespace core
