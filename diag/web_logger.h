// Reports to the statistics server. For now the reports are only written to the text log;
// sending them over HTTP comes with the request engine.
#pragma once
#include <string>

class WebLogger {
public:
    static WebLogger& Instance();

    void LogEvent(int eventCode);
    void Log(const std::wstring& message);

    WebLogger(const WebLogger&) = delete;
    WebLogger& operator=(const WebLogger&) = delete;

private:
    WebLogger() = default;
};

// Event codes.
constexpr int kEventCreate = 1;
