// Everything one run of the update pipeline works with: the platform, the process-wide values,
// the launcher window (absent: its operations do nothing) and the names settled at start-up.
#pragma once
#include <curl/curl.h>

#include <string>

#include "core/update/config_signature.h"
#include "core/update/launcher_window.h"
#include "core/update/pipeline_state.h"
#include "core/update/server_check.h"
#include "core/update/update_host.h"

namespace core {

struct PipelinePaths {
    std::wstring installDir;
    std::wstring clientDir;
    std::wstring gameCode;
    std::wstring ditchCode;
    std::wstring launcherExeName;  // base name of the launcher copy in the install directory
};

// The package transfer fails, like any transfer failure, when it cannot connect in time or
// receives nothing for a while, so a player is never left waiting for ever; the resume record
// lets the next start continue.
struct TransferLimits {
    long connectTimeoutSeconds = 30;
    long stallSeconds = 60;
    // The configuration document is small: its whole request gets this long.
    long configTotalSeconds = 60;
};

struct UpdateContext {
    IUpdateHost& host;
    PipelineState& state;
    ILauncherWindow* window;
    PipelinePaths paths;
    TransferLimits limits{};
    // Makes the libcurl handle of each request; tests put in one that fails.
    CURL* (*newTransfer)() = &curl_easy_init;
    // Threads that unpack the package; 0: one per hardware thread, at most 8. Tests and
    // benchmarks choose a number.
    unsigned unzipWorkers = 0;
    // The public keys the launcher was built with; none: the configuration is taken unsigned.
    ChannelKeys channelKeys{};
    // Checks an https server's certificate before each request of a transfer; none: the TLS
    // library's own verification stands (see core/update/server_check.h).
    IServerCertificateCheck* serverCheck = nullptr;

    void Info(const char* function, int line, const std::wstring& text) { host.Log(L"INFO", function, line, text); }
    void Warn(const char* function, int line, const std::wstring& text) { host.Log(L"WARN", function, line, text); }
    void Error(const char* function, int line, const std::wstring& text) { host.Log(L"ERROR", function, line, text); }

    // The window operations; nothing happens without a window.
    void UpdateProgress(const std::wstring& status, const std::wstring& detail, int percent, int downloading)
    {
        if (window) window->UpdateProgress(status, detail, percent, downloading);
    }
    void ShowProgressControls(bool show)
    {
        if (window) window->ShowProgressControls(show);
    }
    void SetReady()
    {
        if (window) window->SetReady();
    }
    void InitWebBrower()
    {
        if (window) window->InitWebBrower();
    }
    // "<install dir>/<launcher name>.exe": where the running launcher copies itself.
    std::wstring LauncherCopyPath() { return host.JoinPath(paths.installDir, paths.launcherExeName + L".exe"); }

    // A status shown in the status line with the progress controls hidden.
    void ShowStatus(const std::wstring& status)
    {
        UpdateProgress(status, L"", 0, 0);
        ShowProgressControls(false);
    }
};

}  // namespace core
