#include "ui/web_dlg.h"

#include <algorithm>
#include <functional>

#include "platform/window_message_handler.h"
#include "diag/file_log.h"
#include "fw/app.h"
#include "fw/gdi_handle.h"
#include "fw/win_handle.h"
#include "res/resource.h"
#include "ui/launcher_window_look.h"
#include "ui/update_window_proxy.h"
#include "ui/web_c_dlg.h"
#include "update/game_remote_config.h"
#include "update/pipeline_globals.h"

CWebDlg::CWebDlg(HWND parent) : fw::CDialog(IDD_WEB_DIALOG, parent), m_hIcon(LoadLauncherIcon()) {}

CWebDlg* CWebDlg::FromApp()
{
    const fw::CWinApp* app = fw::GetApp();
    return dynamic_cast<CWebDlg*>(fw::CDialog::FromHandle(app ? app->MainWindow() : nullptr));
}

CWebDlg::~CWebDlg()
{
    if (!m_pProxy) return;
    m_pProxy->Detach();
    // A game started by readiness runs on the update thread with this object's main launcher
    // window; the window has gone by now, and the object stays until the game has ended.
    m_pProxy->WaitUntilIdle();
}

BOOL CWebDlg::OnInitDialog()
{
    HWND hwnd = GetSafeHwnd();
    if (fw::CWinApp* app = fw::GetApp()) app->SetMainWindow(hwnd);
    // The main launcher window first: its own initialisation runs before the rest of ours.
    m_pWebCDlg = std::make_unique<CWebCDlg>();
    if (!m_pWebCDlg->Create(hwnd)) m_pWebCDlg.reset();

    ::SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    ::SetWindowLongPtrW(hwnd, GWL_EXSTYLE, ::GetWindowLongPtrW(hwnd, GWL_EXSTYLE) | WS_EX_LAYERED);
    ::SetWindowLongPtrW(hwnd, GWL_STYLE, ::GetWindowLongPtrW(hwnd, GWL_STYLE) & ~WS_CAPTION);
    ::SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    ::SetWindowLongPtrW(hwnd, GWL_EXSTYLE, ::GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & ~WS_EX_DLGMODALFRAME);

    if (m_imgBack.LoadPng(IDB_PNG_BACKGROUND)) PremultiplyAlpha(m_imgBack.Pixels());
    DrawLayered();

    if (m_pWebCDlg) {
        m_pWebCDlg->CreateButtons();
        ::ShowWindow(m_pWebCDlg->GetSafeHwnd(), SW_SHOW);
    }
    StartUpdateThread();

    // The picture centred in the work area, as the dialog framework places a modal dialog; the
    // move brings the main launcher window along.
    RECT work{}, window{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    ::GetWindowRect(hwnd, &window);
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    ::SetWindowPos(hwnd, nullptr, work.left + (work.right - work.left - width) / 2,
                   work.top + (work.bottom - work.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    return TRUE;
}

void CWebDlg::DrawLayered()
{
    HWND hwnd = GetSafeHwnd();
    fw::WindowDc screen(hwnd);
    fw::UniqueMemoryDc mem(::CreateCompatibleDC(screen.get()));
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = m_imgBack.GetWidth();
    info.bmiHeader.biHeight = m_imgBack.GetHeight();  // bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    fw::UniqueBitmap section(::CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!mem || !section) return;
    fw::SelectedObject selected(mem.get(), section.get());
    // The premultiplied pixels go onto the empty section as they are: that is what blending
    // them over nothing leaves.
    const size_t width = static_cast<size_t>(m_imgBack.GetWidth());
    const std::vector<uint32_t>& pixels = m_imgBack.Pixels();
    auto* rows = static_cast<uint32_t*>(bits);
    for (int y = 0; y < m_imgBack.GetHeight(); ++y)
        std::copy_n(&pixels[static_cast<size_t>(y) * width], width,
                    rows + static_cast<size_t>(m_imgBack.GetHeight() - 1 - y) * width);
    ::GdiFlush();

    SIZE size{m_imgBack.GetWidth(), m_imgBack.GetHeight()};
    POINT source{0, 0};
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    ::UpdateLayeredWindow(hwnd, screen.get(), nullptr, &size, mem.get(), &source, 0, &blend, ULW_ALPHA);
}

void CWebDlg::StartUpdateThread()
{
    m_pProxy = std::make_shared<UpdateWindowProxy>(GetSafeHwnd(), this);
    // The thread owns a share of the proxy; nothing joins it and its handle is not kept.
    auto* share = new std::shared_ptr<core::ILauncherWindow>(m_pProxy);
    fw::UniqueHandle thread(::CreateThread(nullptr, 0, &CGameRemoteConfig::InitRemoteConfig, share, 0, nullptr));
    if (!thread) delete share;
}

void CWebDlg::FollowWithMainWindow()
{
    if (!m_pWebCDlg) return;
    RECT rect;
    ::GetWindowRect(GetSafeHwnd(), &rect);
    HWND main = m_pWebCDlg->GetSafeHwnd();
    ::MoveWindow(main, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
    ::InvalidateRect(main, nullptr, FALSE);
}

void CWebDlg::Close()
{
    LOG_INFO("CWebDlg::Close", L"Laucher Stop");
    WriteResumeRecord();
    EndDialog(IDOK);
    CWindowMessageHandler::Instance().SendShowWindowMessage(GetSafeHwnd());
}

void CWebDlg::Cancel()
{
    LOG_INFO("CWebDlg::Cancel", L"Laucher Stop");
    WriteResumeRecord();
    EndDialog(IDCANCEL);
}

void CWebDlg::OnCancel() { ::PostQuitMessage(0); }

bool CWebDlg::PreTranslateMessage(MSG& msg)
{
    // Esc and Enter would end the run through the dialog's default buttons.
    return msg.message == WM_KEYDOWN && (msg.wParam == VK_ESCAPE || msg.wParam == VK_RETURN);
}

INT_PTR CWebDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled)
{
    handled = false;
    HWND hwnd = GetSafeHwnd();
    switch (msg) {
    case UpdateWindowProxy::kRunOnGuiThread:
        if (m_pProxy) m_pProxy->RunPendingCall(lParam);
        handled = true;
        return TRUE;
    case UpdateWindowProxy::kRunPostedCall:
        if (m_pProxy) m_pProxy->RunPostedCall(lParam);
        handled = true;
        return TRUE;
    case WM_MOVE:
        FollowWithMainWindow();
        return FALSE;
    case WM_WINDOWPOSCHANGED:
        // Owned windows stay above their owner, but a display server stacks a window shown
        // later on top of the others (X11 under Wine does): once this window has appeared,
        // the main launcher window appears again, above it.
        if (m_pWebCDlg && (reinterpret_cast<const WINDOWPOS*>(lParam)->flags & SWP_SHOWWINDOW)) {
            ::ShowWindow(m_pWebCDlg->GetSafeHwnd(), SW_HIDE);
            ::ShowWindow(m_pWebCDlg->GetSafeHwnd(), SW_SHOWNA);
        }
        return FALSE;
    case WM_SHOWWINDOW:
        if (m_pWebCDlg) ::ShowWindow(m_pWebCDlg->GetSafeHwnd(), wParam ? SW_SHOW : SW_HIDE);
        return FALSE;
    case WM_NCHITTEST: {
        // The picture is the window's caption: it drags from any point.
        const LRESULT hit = ::DefWindowProcW(hwnd, msg, wParam, lParam);
        handled = true;
        return SetMessageResult(hit == HTCLIENT ? HTCAPTION : hit);
    }
    case WM_DESTROY:
        // The package walk, if one runs, stops; the application waits for it before it ends.
        g_pipelineState.stop.Request();
        WriteResumeRecord();
        if (m_pProxy) m_pProxy->Detach();
        LOG_INFO("CWebApp::OnWndDestroy", L"wnd destory");
        return FALSE;
    default:
        return HandleLauncherWindowLook(hwnd, m_hIcon, msg, handled);
    }
}

void CWebDlg::UpdateProgress(const std::wstring& status, const std::wstring& detail, int percent, int downloading)
{
    if (m_pWebCDlg) m_pWebCDlg->UpdateProgress(status, detail, percent, downloading);
}

void CWebDlg::ShowProgressControls(bool show)
{
    if (m_pWebCDlg) m_pWebCDlg->ShowProgressControls(show);
}

void CWebDlg::InitWebBrower()
{
    if (!m_pWebCDlg) return;
    LOG_INFO("CWebDlg::InitWebBrower", L"InitWebBrower");
    m_pWebCDlg->InitWebBrower();
}

void CWebDlg::SetReady()
{
    if (!m_pWebCDlg) return;
    LOG_INFO("CWebDlg::SetReady", L"SetReady");
    m_pWebCDlg->SetReady();
}

bool CWebDlg::IsReady() const { return m_pWebCDlg && m_pWebCDlg->IsReady(); }

std::wstring CWebDlg::JavascriptToCPLUSPLUS(const std::wstring& method, const std::wstring& params)
{
    return m_pWebCDlg ? m_pWebCDlg->JavascriptToCPLUSPLUS(method, params) : std::wstring();
}
