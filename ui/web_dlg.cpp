#include "ui/web_dlg.h"

#include "core/profile.h"
#include "fw/app.h"
#include "res/resource.h"

CWebDlg::CWebDlg(HWND parent) : fw::CDialog(IDD_WEB_DIALOG, parent) {}

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
    return TRUE;
}
