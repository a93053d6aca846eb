#include "ui/web_c_dlg.h"

#include <cstdio>

#include <atomic>

#include "core/browser/entry_url.h"
#include "core/update/remote_config.h"
#include "diag/file_log.h"
#include "fw/app.h"
#include "platform/window_message_handler.h"
#include "res/resource.h"
#include "ui/launcher_window_look.h"
#include "ui/web_dlg.h"
#include "update/pipeline_globals.h"

namespace {
// The window takes its pixel size once per process, at the first move that finds its controls.
std::atomic<bool> g_bLaidOut{false};
}  // namespace

CWebCDlg::CWebCDlg()
    : fw::CDialog(IDD_WEBC_DIALOG),
      m_hIcon(LoadLauncherIcon()),
      m_launcher([this] { return GetSafeHwnd(); },
                 [] {
                     if (CWebDlg* splash = CWebDlg::FromApp()) splash->Cancel();
                 }),
      m_dispatcher([this](const std::wstring& result) { OnLoginResult(result); })
{
}

BOOL CWebCDlg::OnInitDialog()
{
    HWND hwnd = GetSafeHwnd();
    m_progress.Subclass(::GetDlgItem(hwnd, IDC_PROGRESS));
    m_stPhase.Subclass(::GetDlgItem(hwnd, IDC_PHASE_LABEL));
    m_stDetail.Subclass(::GetDlgItem(hwnd, IDC_DETAIL_TEXT));
    m_stStatus.Subclass(::GetDlgItem(hwnd, IDC_STATUS_LINE));
    m_hBrowser = ::GetDlgItem(hwnd, IDC_BROWSER);
    if (!m_wndBrowser.Create(hwnd, IDC_BROWSER)) LOG_ERROR("CWebCDlg::OnInitDialog", L"the browser control cannot be made");
    m_brBlack.reset(::CreateSolidBrush(RGB(0, 0, 0)));

    // Pure black shows the splash picture through, and clicks there reach the splash window.
    ::SetWindowLongPtrW(hwnd, GWL_EXSTYLE, ::GetWindowLongPtrW(hwnd, GWL_EXSTYLE) | WS_EX_LAYERED);
    ::SetLayeredWindowAttributes(hwnd, RGB(0, 0, 0), 0, LWA_COLORKEY);

    m_progress.SetRange(0, 100);  // also puts the bar at 0
    m_progress.ShowPercent(FALSE);
    m_progress.SetBarColor(RGB(0, 132, 255));
    m_progress.SetBarEndColor(RGB(0, 132, 255));
    m_progress.SetBkColor(RGB(42, 56, 119));
    if (HWND bar = m_progress.GetSafeHwnd()) {
        ::SetWindowLongPtrW(bar, GWL_EXSTYLE, ::GetWindowLongPtrW(bar, GWL_EXSTYLE) & ~WS_EX_STATICEDGE);
        ::SetWindowPos(bar, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
        ::InvalidateRect(bar, nullptr, FALSE);
    }
    for (HWND control : {m_progress.GetSafeHwnd(), m_stStatus.GetSafeHwnd(), m_stPhase.GetSafeHwnd(),
                         m_stDetail.GetSafeHwnd()})
        ::ShowWindow(control, SW_HIDE);
    return TRUE;
}

void CWebCDlg::UpdateProgress(const std::wstring& status, const std::wstring& detail, int percent, int downloading)
{
    const int shown = m_progress.GetPos();
    m_progress.SetPos(percent);

    ::InvalidateRect(m_stStatus.GetSafeHwnd(), nullptr, TRUE);
    ::SetWindowTextW(m_stStatus.GetSafeHwnd(), status.c_str());

    // Each phase names itself once, the first time it is reported.
    const wchar_t* label = nullptr;
    if (downloading && !m_bDownloadLabel) {
        label = L"正在下载：";
        m_bDownloadLabel = TRUE;
    } else if (!downloading && !m_bUnzipLabel) {
        label = L"正在解压：";
        m_bUnzipLabel = TRUE;
    }
    if (label) {
        ::ShowWindow(m_stPhase.GetSafeHwnd(), SW_HIDE);
        ::InvalidateRect(m_stPhase.GetSafeHwnd(), nullptr, TRUE);
        ::SetWindowTextW(m_stPhase.GetSafeHwnd(), label);
    }
    // The detail follows the bar: a report with the same percent leaves it as it is.
    if (shown != percent) {
        ::ShowWindow(m_stDetail.GetSafeHwnd(), SW_HIDE);
        ::InvalidateRect(m_stDetail.GetSafeHwnd(), nullptr, TRUE);
        ::SetWindowTextW(m_stDetail.GetSafeHwnd(), detail.c_str());
    }
}

void CWebCDlg::ShowProgressControls(bool show)
{
    const int progress = show ? SW_SHOW : SW_HIDE;
    ::ShowWindow(m_progress.GetSafeHwnd(), progress);
    ::ShowWindow(m_stPhase.GetSafeHwnd(), progress);
    ::ShowWindow(m_stDetail.GetSafeHwnd(), progress);
    ::ShowWindow(m_stStatus.GetSafeHwnd(), show ? SW_HIDE : SW_SHOW);
}

void CWebCDlg::CreateButtons()
{
    m_pBtnMin = std::make_unique<CPngButton>();
    m_pBtnMin->m_onClick = [] {
        // Minimising the splash window takes this owned window with it.
        if (const fw::CWinApp* app = fw::GetApp()) ::ShowWindow(app->MainWindow(), SW_MINIMIZE);
    };
    m_pBtnMin->Create(1330, GetSafeHwnd(), IDC_BTN_MINIMISE, IDB_PNG_MINIMISE, IDB_PNG_MINIMISE, IDB_PNG_MINIMISE,
                      IDB_PNG_MINIMISE);

    m_pBtnClose = std::make_unique<CPngButton>();
    m_pBtnClose->m_onClick = [] {
        if (CWebDlg* splash = CWebDlg::FromApp()) splash->Close();
    };
    m_pBtnClose->Create(1400, GetSafeHwnd(), IDC_BTN_CLOSE, IDB_PNG_CLOSE, IDB_PNG_CLOSE, IDB_PNG_CLOSE,
                        IDB_PNG_CLOSE);
    m_bButtons = TRUE;
}

void CWebCDlg::InitWebBrower()
{
    const std::wstring query = CWindowMessageHandler::Instance().GetTaviUriFromCommandLine();
    const std::wstring url = core::EntryUrlWithQuery(core::GetEntryUrl(g_remoteConfig), query);
    LOG_INFO("CWebCDlg::InitWebBrower", url);
    // A load that fails later is the browser's affair; a call it refuses is the launcher's.
    const HRESULT hr = m_wndBrowser.Navigate(url);
    if (FAILED(hr)) {
        wchar_t code[16];
        std::swprintf(code, sizeof code / sizeof code[0], L"0x%08lx", static_cast<unsigned long>(hr));
        LOG_ERROR("CWebCDlg::InitWebBrower", L"Navigate failed, " + std::wstring(code) + L": " + url);
    }
}

void CWebCDlg::OnControlEvent(int id, DISPID event, DISPPARAMS& params)
{
    if (id == IDC_BROWSER) m_wndBrowser.OnControlEvent(event, params);
}

void CWebCDlg::SetReady() { m_launcher.SetReady(); }

void CWebCDlg::OnLoginResult(const std::wstring& result) { m_launcher.OnLoginResult(result); }

std::wstring CWebCDlg::JavascriptToCPLUSPLUS(const std::wstring& method, const std::wstring& params)
{
    return m_dispatcher.JavascriptToCPLUSPLUS(method, params);
}

void CWebCDlg::OnMove(int x, int y)
{
    if (!m_progress.GetSafeHwnd() || g_bLaidOut.exchange(true)) return;
    ::SetWindowPos(GetSafeHwnd(), nullptr, x, y, kWidth, kHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    ::MoveWindow(m_hBrowser, kBrowserPlace.left, kBrowserPlace.top, kBrowserPlace.right - kBrowserPlace.left,
                 kBrowserPlace.bottom - kBrowserPlace.top, TRUE);
    m_wndBrowser.UpdatePlace();
}

INT_PTR CWebCDlg::OnCtlColor(UINT msg, HDC dc)
{
    if (msg == WM_CTLCOLORDLG) return reinterpret_cast<INT_PTR>(m_brBlack.get());
    ::SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<INT_PTR>(::GetStockObject(HOLLOW_BRUSH));
}

INT_PTR CWebCDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled)
{
    handled = false;
    switch (msg) {
    case WM_MOVE:
        OnMove(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
        return FALSE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        handled = true;
        return OnCtlColor(msg, reinterpret_cast<HDC>(wParam));
    default:
        return HandleLauncherWindowLook(GetSafeHwnd(), m_hIcon, msg, handled);
    }
}

bool CWebCDlg::PreTranslateMessage(MSG& msg)
{
    // Esc and Enter belong to the page (a form field), never to the dialog's default buttons.
    if (msg.message == WM_KEYDOWN && (msg.wParam == VK_ESCAPE || msg.wParam == VK_RETURN)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
        return true;
    }
    // Ctrl with the wheel would zoom the page.
    if (msg.message == WM_MOUSEWHEEL && GET_KEYSTATE_WPARAM(msg.wParam) == MK_CONTROL) return true;
    return false;
}
