// Owning wrappers for GDI objects and device contexts, on the pattern of fw/win_handle.h.
#pragma once
#include <windows.h>

#include "fw/win_handle.h"

namespace fw {

template <class T>
struct GdiObjectTraits {  // bitmaps, brushes, fonts: DeleteObject
    using Handle = T;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::DeleteObject(h); }
};
struct MemoryDcTraits {  // CreateCompatibleDC
    using Handle = HDC;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::DeleteDC(h); }
};
struct GlobalMemoryTraits {  // GlobalAlloc blocks nobody else took over
    using Handle = HGLOBAL;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ::GlobalFree(h); }
};

using UniqueBitmap = UniqueResource<GdiObjectTraits<HBITMAP>>;
using UniqueBrush = UniqueResource<GdiObjectTraits<HBRUSH>>;
using UniqueMemoryDc = UniqueResource<MemoryDcTraits>;
using UniqueGlobal = UniqueResource<GlobalMemoryTraits>;

// A window's device context from GetDC, released to its window.
class WindowDc {
public:
    explicit WindowDc(HWND hwnd) : m_hWnd(hwnd), m_hDC(::GetDC(hwnd)) {}
    ~WindowDc()
    {
        if (m_hDC) ::ReleaseDC(m_hWnd, m_hDC);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const { return m_hDC; }

private:
    HWND m_hWnd;
    HDC m_hDC;
};

// BeginPaint/EndPaint around one paint message.
class PaintDc {
public:
    explicit PaintDc(HWND hwnd) : m_hWnd(hwnd) { ::BeginPaint(hwnd, &m_ps); }
    ~PaintDc() { ::EndPaint(m_hWnd, &m_ps); }
    PaintDc(const PaintDc&) = delete;
    PaintDc& operator=(const PaintDc&) = delete;
    HDC get() const { return m_ps.hdc; }

private:
    HWND m_hWnd;
    PAINTSTRUCT m_ps{};
};

// Selects an object into a context for one scope and puts the previous one back.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ obj) : m_hDC(dc), m_hOld(::SelectObject(dc, obj)) {}
    ~SelectedObject() { ::SelectObject(m_hDC, m_hOld); }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC m_hDC;
    HGDIOBJ m_hOld;
};

}  // namespace fw
