// The pipeline's surroundings in the benchmarks: no window to draw on, and a platform that
// keeps no record of log lines and reports (the tests need one, the launcher has none).
#pragma once
#include <cstdio>
#include <filesystem>
#include <string>

#include "core/update/curl_handle.h"
#include "core/update/launcher_window.h"
#include "core/update/package_download.h"
#include "core/update/posix_update_host.h"

namespace bench {

class NoWindow : public core::ILauncherWindow {
public:
    void UpdateProgress(const std::wstring&, const std::wstring&, int, int) override {}
    void ShowProgressControls(bool) override {}
    void InitWebBrower() override {}
    void SetReady() override {}
};

class QuietHost : public core::PosixUpdateHost {
public:
    void Log(const wchar_t*, const char*, int, const std::wstring&) override {}
    void ReportEventCode(int) override {}
    void ReportMessage(const std::wstring&) override {}
};

// The launcher's package transfer of url into out, with its write buffer as the launcher
// attaches it to the package file; true for a complete 200 answer.
inline bool PipelineTransfer(const std::string& url, const std::filesystem::path& out)
{
    core::PosixUpdateHost host;
    core::PipelineState state;
    NoWindow window;
    core::UpdateContext ctx{host, state, &window, core::PipelinePaths{}};
    core::PackageWriteBuffer buffer;  // as the launcher opens its package file
    std::FILE* file = std::fopen(out.c_str(), "wb");
    if (!file) return false;
    buffer.Attach(file);
    core::CurlHandle curl(curl_easy_init());
    const core::TransferOutcome outcome = core::TransferPackage(ctx, curl.get(), url, file);
    const bool closed = std::fclose(file) == 0;
    return outcome.result == CURLE_OK && outcome.httpStatus == 200 && closed;
}

}  // namespace bench
