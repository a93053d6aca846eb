#include "ui/web_dlg.h"

#include <functional>

#include "core/profile/profile.h"
#include "diag/file_log.h"
#include "fw/app.h"
#include "fw/win_handle.h"
#include "res/resource.h"
#include "ui/update_window_proxy.h"
#include "update/game_remote_config.h"

CWebDlg::CWebDlg(HWND parent) : fw::CDialog(IDD_WEB_DIALOG, parent) {}

CWebDlg::~CWebDlg()
{
    if (m_pProxy) m_pProxy->Detach();
}

BOOL CWebDlg::OnInitDialog()
{
    HWND hwnd = GetSafeHwnd();
    const fw::CWinApp* app = fw::GetApp();
    HINSTANCE inst = app ? app->InstanceHandle() : ::GetModuleHandleW(nullptr);
    if (HICON icon = ::LoadIconW(inst, MAKEINTRESOURCEW(IDR_MAINFRAME))) {
        ::SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        ::SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }
    ::SetWindowTextW(hwnd, GAME_NAME);
    StartUpdateThread();
    return TRUE;
}

void CWebDlg::StartUpdateThread()
{
    m_pProxy = std::make_shared<UpdateWindowProxy>(GetSafeHwnd(), this);
    // The thread owns a share of the proxy; nothing joins it and its handle is not kept.
    auto* share = new std::shared_ptr<core::ILauncherWindow>(m_pProxy);
    fw::UniqueHandle thread(::CreateThread(nullptr, 0, &CGameRemoteConfig::InitRemoteConfig, share, 0, nullptr));
    if (!thread) delete share;
}

void CWebDlg::OnCancel()
{
    LOG_INFO("CWebDlg::Close", L"Laucher Stop");
    WriteResumeRecord();
    EndDialog(IDCANCEL);
}

INT_PTR CWebDlg::OnMessage(UINT msg, WPARAM, LPARAM lParam, bool& handled)
{
    handled = false;
    if (msg == UpdateWindowProxy::kRunOnGuiThread) {
        // Only the call the update thread is making right now, never a stray message's pointer.
        if (m_pProxy && m_pProxy->IsPendingCall(lParam)) (*reinterpret_cast<const std::function<void()>*>(lParam))();
        handled = true;
        return TRUE;
    }
    if (msg == WM_DESTROY) {
        WriteResumeRecord();
        LOG_INFO("CWebDlg::OnDestroy", L"wnd destory");
        if (m_pProxy) m_pProxy->Detach();
    }
    return FALSE;
}

void CWebDlg::ShowStatusText()
{
    std::wstring text = m_bProgressShown
                            ? std::wstring(m_nDownloading ? L"下载中 " : L"解压中 ") + m_strDetail
                            : m_strStatus;
    if (text.empty()) text = GAME_NAME;
    ::SetDlgItemTextW(GetSafeHwnd(), IDC_PLACEHOLDER_TEXT, text.c_str());
}

void CWebDlg::UpdateProgress(const std::wstring& status, const std::wstring& detail, int percent, int downloading)
{
    m_strStatus = status;
    // The detail text follows the bar: it changes only when the percent does.
    if (percent != m_nPercent) m_strDetail = detail;
    m_nPercent = percent;
    m_nDownloading = downloading;
    ShowStatusText();
}

void CWebDlg::ShowProgressControls(bool show)
{
    m_bProgressShown = show;
    ShowStatusText();
}

void CWebDlg::InitWebBrower()
{
    // The entry page opens in the main launcher window's browser, which this window does not
    // have yet.
    LOG_INFO("CWebDlg::InitWebBrower", L"InitWebBrower");
}

void CWebDlg::SetReady() { m_bReady = true; }

bool CWebDlg::IsReady() const { return m_bReady || (m_pProxy && m_pProxy->IsReady()); }
