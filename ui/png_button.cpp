#include "ui/png_button.h"

#include "fw/app.h"
#include "fw/gdi_handle.h"
#include "ui/png_resource.h"

HWND CPngButton::Create(int x, HWND parent, UINT id, UINT normal, UINT pressed, UINT hover, UINT disabled)
{
    m_pNormal = LoadPngResource(normal);
    m_pPressed = LoadPngResource(pressed);
    m_pHover = LoadPngResource(hover);
    m_pDisabled = LoadPngResource(disabled);
    m_nWidth = m_nHeight = kSize;

    HWND hwnd = ::CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, x, kTop, kSize, kSize,
                                  parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), fw::ResourceModule(),
                                  nullptr);
    if (!hwnd) return nullptr;
    // Fast clicks must arrive as separate presses, each one a click, so the class (shared by
    // every button of the process) produces no double clicks.
    const ULONG_PTR classStyle = ::GetClassLongPtrW(hwnd, GCL_STYLE);
    ::SetClassLongPtrW(hwnd, GCL_STYLE, static_cast<LONG_PTR>(classStyle & ~static_cast<ULONG_PTR>(CS_DBLCLKS)));
    Subclass(hwnd);
    return hwnd;
}

LRESULT CPngButton::WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_DESTROY:
        ForgetWindow();
        break;
    case WM_ENABLE:
        m_bDisabled = wParam ? FALSE : TRUE;
        Repaint(hwnd);
        break;
    case WM_MOUSEMOVE:
        if (!m_bPressed && !m_bHover) {
            m_bHover = TRUE;
            TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd, 0};
            ::TrackMouseEvent(&track);
            Repaint(hwnd);
        }
        break;
    case WM_LBUTTONDOWN:
        m_bPressed = TRUE;
        m_bHover = FALSE;
        Repaint(hwnd);
        break;
    case WM_MOUSELEAVE:
        m_bHover = FALSE;
        Repaint(hwnd);
        break;
    case WM_LBUTTONUP:
        m_bPressed = FALSE;
        // Wherever the pointer is now: a press that slid off the button still counts.
        if (m_onClick) m_onClick();
        Repaint(hwnd);
        break;
    case WM_ERASEBKGND:
    case WM_PRINTCLIENT:
        Paint(reinterpret_cast<HDC>(wParam));
        return 1;
    case WM_PAINT: {
        // An owner-drawn button leaves its face to its parent, which draws nothing: the
        // picture is the face, also where no background erase comes first.
        fw::PaintDc paint(hwnd);
        Paint(paint.get());
        return 0;
    }
    default:
        break;
    }
    return CallPrevious(hwnd, msg, wParam, lParam);
}

void CPngButton::Paint(HDC target) const
{
    Gdiplus::Bitmap* picture = m_bDisabled ? m_pDisabled.get()
                               : m_bPressed ? m_pPressed.get()
                               : m_bHover   ? m_pHover.get()
                                            : m_pNormal.get();
    if (!picture || !target) return;
    // Transparent pixels come out black, which the main launcher window shows see-through.
    fw::UniqueBitmap ddb;
    if (picture->GetHBITMAP(Gdiplus::Color(0, 0, 0, 0), ddb.put()) != Gdiplus::Ok) return;
    fw::UniqueMemoryDc mem(::CreateCompatibleDC(target));
    if (!mem) return;
    fw::SelectedObject selected(mem.get(), ddb.get());
    ::BitBlt(target, 0, 0, m_nWidth, m_nHeight, mem.get(), 0, 0, SRCCOPY);
}
