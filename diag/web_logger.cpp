#include "diag/web_logger.h"

#include <string>

#include "diag/file_log.h"

WebLogger& WebLogger::Instance()
{
    static WebLogger logger;
    return logger;
}

void WebLogger::LogEvent(int eventCode)
{
    LOG_INFO("WebLogger::LogEvent", L"event " + std::to_wstring(eventCode) + L" (not sent: no report transport yet)");
}

void WebLogger::Log(const std::wstring& message)
{
    LOG_INFO("WebLogger::Log", L"message \"" + message + L"\" (not sent: no report transport yet)");
}
