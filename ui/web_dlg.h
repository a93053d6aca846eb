// The splash window, run modally for the launcher's whole visible life. This first version is
// a plain dialog with the game's name and one status line: the picture, the main launcher
// window and the browser come with the window layer. It starts the update thread at the end of
// its initialisation and offers it the four window operations through an UpdateWindowProxy.
#pragma once
#include <memory>
#include <string>

#include "core/update/launcher_window.h"
#include "fw/dialog.h"

class UpdateWindowProxy;

class CWebDlg : public fw::CDialog, public core::ILauncherWindow {
public:
    explicit CWebDlg(HWND parent = nullptr);
    ~CWebDlg() override;

    // The window operations, applied directly: they run on the GUI thread.
    void UpdateProgress(const std::wstring& status, const std::wstring& detail, int percent,
                        int downloading) override;
    void ShowProgressControls(bool show) override;
    void InitWebBrower() override;
    void SetReady() override;

    // The update is complete (signalled by the update thread through the proxy, or directly).
    bool IsReady() const;

protected:
    BOOL OnInitDialog() override;
    // The player closes the launcher.
    void OnCancel() override;
    INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;

private:
    void StartUpdateThread();
    void ShowStatusText();

    std::shared_ptr<UpdateWindowProxy> m_pProxy;
    bool m_bReady = false;  // set directly on the GUI thread
    std::wstring m_strStatus;
    std::wstring m_strDetail;
    int m_nPercent = -1;
    int m_nDownloading = 0;
    bool m_bProgressShown = false;
};
