#include "ui/static_ex.h"

#include <string>

#include "fw/gdi_handle.h"

void CStaticEx::Draw(HWND hwnd, HDC dc)
{
    RECT client;
    ::GetClientRect(hwnd, &client);
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(hwnd, &text[0], static_cast<int>(text.size()))));
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, RGB(255, 255, 255));
    // The context's own font (the system font): the control's font setting plays no part.
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &client, DT_LEFT | DT_TOP);
}

LRESULT CStaticEx::WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_PAINT) {
        fw::PaintDc paint(hwnd);
        Draw(hwnd, paint.get());
        return 0;
    }
    return CallPrevious(hwnd, msg, wParam, lParam);
}
