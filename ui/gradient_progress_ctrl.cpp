#include "ui/gradient_progress_ctrl.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "fw/gdi_handle.h"
#include "ui/my_mem_dc.h"

namespace {

void FillSolid(HDC dc, const RECT& rect, COLORREF colour)
{
    fw::UniqueBrush brush(::CreateSolidBrush(colour));
    ::FillRect(dc, &rect, brush.get());
}

// One band per step of the widest colour difference; a single colour is split by its own
// channels (black into 255 bands), so the bar advances in small steps either way.
int BandCount(COLORREF first, COLORREF second)
{
    int dr = GetRValue(second) - GetRValue(first);
    int dg = GetGValue(second) - GetGValue(first);
    int db = GetBValue(second) - GetBValue(first);
    if (dr == 0 && dg == 0 && db == 0) {
        if (first == RGB(0, 0, 0)) return 255;
        dr = GetRValue(first);
        dg = GetGValue(first);
        db = GetBValue(first);
    }
    return std::max({std::abs(dr), std::abs(dg), std::abs(db)});
}

}  // namespace

void CGradientProgressCtrl::SetRange(int low, int high)
{
    m_nRangeLow = low;
    m_nRangeHigh = high;
    m_nPos = low;
    if (GetSafeHwnd()) ::SendMessageW(GetSafeHwnd(), PBM_SETRANGE32, static_cast<WPARAM>(low), static_cast<LPARAM>(high));
}

void CGradientProgressCtrl::SetPos(int pos)
{
    m_nPos = pos;
    if (GetSafeHwnd()) ::SendMessageW(GetSafeHwnd(), PBM_SETPOS, static_cast<WPARAM>(pos), 0);
}

int CGradientProgressCtrl::GetPos() const
{
    return GetSafeHwnd() ? static_cast<int>(::SendMessageW(GetSafeHwnd(), PBM_GETPOS, 0, 0)) : m_nPos;
}

bool CGradientProgressCtrl::IsVertical() const
{
    return GetSafeHwnd() && (::GetWindowLongPtrW(GetSafeHwnd(), GWL_STYLE) & PBS_VERTICAL) != 0;
}

void CGradientProgressCtrl::Draw(HDC dc, const RECT& rect) const
{
    if (m_nPos <= m_nRangeLow || m_nPos > m_nRangeHigh) {
        FillSolid(dc, rect, kOutOfRange);
        return;
    }
    const bool vertical = IsVertical();
    const int extent = vertical ? rect.bottom - rect.top : rect.right - rect.left;
    const int barLength = static_cast<int>(static_cast<float>(m_nPos) / static_cast<float>(m_nRangeHigh) *
                                           static_cast<float>(extent));
    {
        CMYMemDC mem(dc);
        const int bands = BandCount(m_crBar, m_crBarEnd);
        const float bandSize = static_cast<float>(extent) / static_cast<float>(bands);
        for (int i = 0; i < bands; ++i) {
            const int from = static_cast<int>(static_cast<float>(i) * bandSize);
            const int to = static_cast<int>(static_cast<float>(i + 1) * bandSize);
            const RECT band = vertical ? RECT{rect.left, rect.top + from, rect.right + 1, rect.top + to}
                                       : RECT{rect.left + from, rect.top, rect.left + to, rect.bottom + 1};
            FillSolid(mem.get(), band, m_crBar);
            if (to > barLength) {
                const RECT rest = vertical ? RECT{rect.left, rect.top + to, rect.right, rect.bottom}
                                           : RECT{rect.left + to, rect.top, rect.right, rect.bottom};
                FillSolid(mem.get(), rest, m_crBack);
                break;
            }
        }
    }
    if (m_bPercentText) {
        const float percent = static_cast<float>(m_nPos - m_nRangeLow) * 100.0f /
                              static_cast<float>(m_nRangeHigh - m_nRangeLow);
        wchar_t text[32];
        std::swprintf(text, 32, L"%3.0f %%", percent);
        RECT area = rect;
        ::SetTextColor(dc, m_crText);
        ::SetBkMode(dc, TRANSPARENT);
        ::DrawTextW(dc, text, -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
}

LRESULT CGradientProgressCtrl::WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_ERASEBKGND) return 1;  // the paint covers every pixel
    if (msg == WM_PAINT) {
        fw::PaintDc paint(hwnd);
        RECT client;
        ::GetClientRect(hwnd, &client);
        Draw(paint.get(), client);
        return 0;
    }
    return CallPrevious(hwnd, msg, wParam, lParam);
}
