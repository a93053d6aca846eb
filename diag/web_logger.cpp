#include "diag/web_logger.h"

#include <utility>

#include "core/profile/profile.h"
#include "core/diag/report_url.h"
#include "diag/file_log.h"
#include "diag/system_info.h"

namespace {

core::ReportFingerprint Fingerprint()
{
    const CSystemInfo& info = CSystemInfo::Instance();
    return {info.m_strClientUid, DITCH_CODE, info.m_strMacAddress, info.m_strOsDescription};
}

}  // namespace

WebLogger& WebLogger::Instance()
{
    static WebLogger logger(INFO_REPORT_URL, ERROR_REPORT_URL);  // thread-safe one-time construction
    return logger;
}

WebLogger::WebLogger(std::wstring infoUrl, std::wstring errorUrl)
    : m_strInfoUrl(std::move(infoUrl)), m_strErrorUrl(std::move(errorUrl))
{
    // The manager part (and with it the hidden window) exists first, then the fingerprint.
    CSystemInfo::Instance();
}

WebLogger::~WebLogger() = default;

void WebLogger::LogEvent(int eventCode)
{
    FCHttpRequestHeader header;
    header.m_strUrl = core::EventReportUrl(m_strInfoUrl, Fingerprint(), eventCode);
    LOG_INFO("WebLogger::LogEvent", header.m_strUrl);
    StartRequest(header);
}

void WebLogger::Log(const std::wstring& message)
{
    FCHttpRequestHeader header;
    header.m_strUrl = core::MessageReportUrl(m_strErrorUrl, Fingerprint(), message);
    LOG_INFO("WebLogger::Log", header.m_strUrl);
    StartRequest(header);
}

void WebLogger::OnRequestComplete(FCHttpRequest& request)
{
    if (!request.GetCertificateRefusal().empty())
        LOG_ERROR("WebLogger::OnRequestComplete", request.GetCertificateRefusal() + L": report not sent");
}
