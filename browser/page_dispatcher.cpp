#include "browser/page_dispatcher.h"

#include "diag/file_log.h"
#include "fw/app.h"

std::wstring PageDispatcher::JavascriptToCPLUSPLUS(const std::wstring& method, const std::wstring& params) const
{
    // The log line keeps to 2,047 characters, as long as any line the page can make us write.
    std::wstring line = L"method:" + method + L",paramters:" + params;
    if (line.size() > 2047) line.resize(2047);
    LOG_INFO("CWebCDlg::JavascriptToCPLUSPLUS", line);

    if (method == L"LoginResult") {
        if (m_onLoginResult) m_onLoginResult(params);
        return L"";
    }
    if (method == L"GetCommandLine") return fw::ModuleFileName();
    return L"";
}
