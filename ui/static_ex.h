// A text control that paints its text in white on whatever lies beneath it.
#pragma once
#include <windows.h>

#include "ui/subclassed_window.h"

class CStaticEx : public CSubclassedWindow {
public:
    // Draws the window's text as the paint message does.
    static void Draw(HWND hwnd, HDC dc);

protected:
    LRESULT WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
};
