// The main launcher window: a frameless modeless dialog lying exactly on the splash window.
// Everything it paints in pure black is see-through to the splash picture; on it sit the
// progress area the update thread drives, the minimise and close buttons, and the place of
// the embedded browser. The page's calls go to its dispatcher, the login and readiness to its
// game launcher.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "browser/page_dispatcher.h"
#include "browser/web_browser2.h"
#include "fw/dialog.h"
#include "fw/gdi_handle.h"
#include "launch/game_launcher.h"
#include "ui/gradient_progress_ctrl.h"
#include "ui/png_button.h"
#include "ui/static_ex.h"

class CWebCDlg : public fw::CDialog {
public:
    static constexpr int kWidth = 1600;
    static constexpr int kHeight = 896;
    static constexpr RECT kBrowserPlace{800, 342, 800 + 590, 342 + 480};

    CWebCDlg();

    void UpdateProgress(const std::wstring& status, const std::wstring& detail, int percent, int downloading);
    void ShowProgressControls(bool show);
    void CreateButtons();
    // Opens the entry page in the browser.
    void InitWebBrower();
    // The update is complete (called on the update thread); launches when the login is in.
    void SetReady();
    bool IsReady() const { return m_launcher.IsReady(); }
    // What the entry page's script calls reach: "LoginResult" and "GetCommandLine".
    std::wstring JavascriptToCPLUSPLUS(const std::wstring& method, const std::wstring& params);
    // The page's login result; launches when the update is complete.
    void OnLoginResult(const std::wstring& result);

    // The browser control's events go to the browser.
    void OnControlEvent(int id, DISPID event, DISPPARAMS& params) override;
    CWebBrowser2& Browser() { return m_wndBrowser; }

protected:
    BOOL OnInitDialog() override;
    INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;
    bool PreTranslateMessage(MSG& msg) override;

private:
    void OnMove(int x, int y);
    INT_PTR OnCtlColor(UINT msg, HDC dc);

    std::unique_ptr<CPngButton> m_pBtnClose;
    std::unique_ptr<CPngButton> m_pBtnMin;
    HICON m_hIcon;
    fw::UniqueBrush m_brBlack;
    BOOL m_bButtons = FALSE;
    BOOL m_bDownloadLabel = FALSE;
    BOOL m_bUnzipLabel = FALSE;
    CGradientProgressCtrl m_progress;
    CStaticEx m_stPhase;
    CStaticEx m_stDetail;
    CStaticEx m_stStatus;
    HWND m_hBrowser = nullptr;
    // Constructed with the window object, before its dialog exists: the control made on the
    // dialog gets the launcher's site.
    CWebBrowser2 m_wndBrowser;
    GameLauncher m_launcher;
    PageDispatcher m_dispatcher;
};
