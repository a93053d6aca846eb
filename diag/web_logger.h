// Reports to the statistics server: milestone events to the info URL and free-text messages
// to the error URL, each one GET carrying the machine fingerprint. Fire and forget: the call
// returns at once, the request runs on the HTTP engine, the answer is never looked at, and
// every report's URL is written to the log.
#pragma once
#include <string>

#include "core/diag/report_events.h"
#include "http/http_request_manager.h"

class WebLogger : public FCHttpRequestManager {
public:
    // The first call must come from the GUI thread, whose message loop serves the engine's
    // hidden window; later calls may come from any thread.
    static WebLogger& Instance();

    // An event report; codes outside the event table send only the common parameters.
    void LogEvent(int eventCode);
    // A message report (successes too, despite the URL's name).
    void Log(const std::wstring& message);

    ~WebLogger() override;

protected:
    // A report refused for its server's certificate is lost, with the reason in the log.
    void OnRequestComplete(FCHttpRequest& request) override;

    // Reports to the given URLs instead of the profile's (tests point it at a loopback server).
    WebLogger(std::wstring infoUrl, std::wstring errorUrl);

private:
    std::wstring m_strInfoUrl;
    std::wstring m_strErrorUrl;
};

// Event codes, as the launcher's callers name them.
using core::kEventCreate;
using core::kEventDownloadStart;
using core::kEventGameStart;
using core::kEventUnzipDone;
using core::kEventUnzipStart;
