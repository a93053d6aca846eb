#include "ui/launcher_window_look.h"

#include "fw/app.h"
#include "fw/gdi_handle.h"
#include "res/resource.h"

HICON LoadLauncherIcon() { return ::LoadIconW(fw::ResourceModule(), MAKEINTRESOURCEW(IDR_MAINFRAME)); }

INT_PTR HandleLauncherWindowLook(HWND hwnd, HICON icon, UINT msg, bool& handled)
{
    handled = false;
    switch (msg) {
    case WM_PAINT:
        if (!::IsIconic(hwnd)) return FALSE;
        {
            fw::PaintDc paint(hwnd);
            ::SendMessageW(hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(paint.get()), 0);
            RECT client;
            ::GetClientRect(hwnd, &client);
            const int x = (client.right - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
            const int y = (client.bottom - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
            ::DrawIcon(paint.get(), x, y, icon);
        }
        handled = true;
        return TRUE;
    case WM_QUERYDRAGICON:
        handled = true;
        return reinterpret_cast<INT_PTR>(icon);
    case WM_SETCURSOR:
        ::SetCursor(::LoadCursorW(fw::ResourceModule(), MAKEINTRESOURCEW(IDC_LAUNCHER_CURSOR)));
        ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, TRUE);
        handled = true;
        return TRUE;
    default:
        return FALSE;
    }
}
