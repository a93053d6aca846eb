// A push button drawn from four PNG pictures (normal, pressed, hover, disabled) that calls its
// click callback on every left-button release it receives.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <functional>
#include <memory>

#include "ui/subclassed_window.h"

class CPngButton : public CSubclassedWindow {
public:
    static constexpr int kTop = 267;
    static constexpr int kSize = 70;

    // A 70 x 70 button at (x, 267) of parent; nullptr when the window cannot be made. The
    // pictures are PNG resource ids; a missing one leaves its state unpainted.
    HWND Create(int x, HWND parent, UINT id, UINT normal, UINT pressed, UINT hover, UINT disabled);

    std::function<void()> m_onClick;

protected:
    LRESULT WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void Paint(HDC target) const;
    void Repaint(HWND hwnd) const { ::InvalidateRect(hwnd, nullptr, TRUE); }

    int m_nWidth = 0;
    int m_nHeight = 0;
    std::unique_ptr<Gdiplus::Bitmap> m_pNormal, m_pPressed, m_pHover, m_pDisabled;
    BOOL m_bHover = FALSE;
    BOOL m_bPressed = FALSE;
    BOOL m_bDisabled = FALSE;
};
