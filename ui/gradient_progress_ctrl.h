// The launcher's progress bar: a system progress control painted by us in colour bands, grey
// while the position is outside its range, with an optional centred percent text.
#pragma once
#include <windows.h>

#include "ui/subclassed_window.h"

class CGradientProgressCtrl : public CSubclassedWindow {
public:
    static constexpr COLORREF kOutOfRange = RGB(105, 105, 105);

    void SetRange(int low, int high);
    void SetPos(int pos);
    // The control's own position, as the system control reports it.
    int GetPos() const;
    void SetBarColor(COLORREF colour) { m_crBar = colour; }
    void SetBarEndColor(COLORREF colour) { m_crBarEnd = colour; }
    void SetBkColor(COLORREF colour) { m_crBack = colour; }
    void SetTextColor(COLORREF colour) { m_crText = colour; }
    void ShowPercent(BOOL show) { m_bPercentText = show; }

    // Draws the bar as it stands into dc over rect (what the paint message does).
    void Draw(HDC dc, const RECT& rect) const;

protected:
    LRESULT WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    bool IsVertical() const;

    int m_nRangeLow = 0;
    int m_nRangeHigh = 100;
    int m_nStepSize = 10;
    int m_nPos = 0;
    COLORREF m_crBar = RGB(255, 0, 0);
    COLORREF m_crBarEnd = RGB(0, 0, 255);
    COLORREF m_crBack = RGB(0, 0, 0);
    COLORREF m_crText = RGB(255, 255, 255);
    BOOL m_bPercentText = FALSE;
};
