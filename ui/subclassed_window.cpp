#include "ui/subclassed_window.h"

CSubclassedWindow::~CSubclassedWindow()
{
    // An object that goes before its window hands the window back to its class.
    if (m_hWnd && ::IsWindow(m_hWnd)) {
        ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnPrevProc));
        ::SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
    }
}

bool CSubclassedWindow::Subclass(HWND hwnd)
{
    if (!::IsWindow(hwnd)) return false;
    m_hWnd = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_pfnPrevProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CSubclassedWindow::StaticWndProc)));
    return true;
}

LRESULT CSubclassedWindow::WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return CallPrevious(hwnd, msg, wParam, lParam);
}

LRESULT CSubclassedWindow::CallPrevious(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) const
{
    return ::CallWindowProcW(m_pfnPrevProc, hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK CSubclassedWindow::StaticWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<CSubclassedWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return 0;
    if (msg == WM_NCDESTROY) {
        // The last message: the window goes, the object may stay (buttons live on).
        const WNDPROC prev = self->m_pfnPrevProc;
        ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(prev));
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->m_hWnd = nullptr;
        return ::CallWindowProcW(prev, hwnd, msg, wParam, lParam);
    }
    return self->WndProc(hwnd, msg, wParam, lParam);
}
