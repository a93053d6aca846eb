// A window of a system class (button, static, progress bar) whose messages go first to a C++
// object: the object is found through the window's user data and passes on what it does not
// handle to the class's own procedure.
#pragma once
#include <windows.h>

class CSubclassedWindow {
public:
    CSubclassedWindow() = default;
    virtual ~CSubclassedWindow();
    CSubclassedWindow(const CSubclassedWindow&) = delete;
    CSubclassedWindow& operator=(const CSubclassedWindow&) = delete;

    // Takes over hwnd's messages; false when hwnd is not a window.
    bool Subclass(HWND hwnd);
    HWND GetSafeHwnd() const { return m_hWnd; }

protected:
    virtual LRESULT WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT CallPrevious(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) const;
    void ForgetWindow() { m_hWnd = nullptr; }

private:
    static LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    HWND m_hWnd = nullptr;
    WNDPROC m_pfnPrevProc = nullptr;
};
