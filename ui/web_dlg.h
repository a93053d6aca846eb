// The splash window, run modally for the launcher's whole visible life: a frameless layered
// window showing the background picture with its own alpha, carrying the main launcher window
// (CWebCDlg) exactly on top of itself. It starts the update thread at the end of its
// initialisation and offers it the four window operations through an UpdateWindowProxy.
#pragma once
#include <memory>
#include <string>

#include "browser/script_bridge_ends.h"
#include "core/update/launcher_window.h"
#include "fw/dialog.h"
#include "ui/alpha_image.h"

class CWebCDlg;
class UpdateWindowProxy;

class CWebDlg : public fw::CDialog, public core::ILauncherWindow, public IPageCallTarget {
public:
    explicit CWebDlg(HWND parent = nullptr);
    ~CWebDlg() override;

    // The application's main window when it is the splash window, else nullptr.
    static CWebDlg* FromApp();

    // The window operations, applied directly: the proxy runs the first three on the GUI
    // thread, SetReady on the update thread.
    void UpdateProgress(const std::wstring& status, const std::wstring& detail, int percent,
                        int downloading) override;
    void ShowProgressControls(bool show) override;
    void InitWebBrower() override;
    void SetReady() override;

    // The update is complete.
    bool IsReady() const override;
    // What the script bridge forwards; empty without a main launcher window.
    std::wstring JavascriptToCPLUSPLUS(const std::wstring& method, const std::wstring& params) override;

    // The player's close button: OK result, resume record, then the platform's show-window message.
    void Close();
    // After the game has ended: cancel result and resume record.
    void Cancel();

protected:
    BOOL OnInitDialog() override;
    // The system's close command (Alt+F4, the task bar) ends the run through the quit message.
    void OnCancel() override;
    INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;
    bool PreTranslateMessage(MSG& msg) override;

private:
    void StartUpdateThread();
    void DrawLayered();
    void FollowWithMainWindow();

    HICON m_hIcon;
    CAlphaImage m_imgBack;
    std::unique_ptr<CWebCDlg> m_pWebCDlg;
    std::shared_ptr<UpdateWindowProxy> m_pProxy;
};
