// A memory device context over a 32-bit top-down bitmap whose pixels the tests read back.
#pragma once
#include <windows.h>

#include <cstdint>

#include "fw/gdi_handle.h"

class PixelSurface {
public:
    PixelSurface(int width, int height, COLORREF fill) : m_nWidth(width), m_dc(::CreateCompatibleDC(nullptr))
    {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        m_bitmap.reset(::CreateDIBSection(m_dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        m_pBits = static_cast<const uint32_t*>(bits);
        m_hOld = ::SelectObject(m_dc.get(), m_bitmap.get());
        fw::UniqueBrush brush(::CreateSolidBrush(fill));
        RECT all{0, 0, width, height};
        ::FillRect(m_dc.get(), &all, brush.get());
    }
    ~PixelSurface() { ::SelectObject(m_dc.get(), m_hOld); }
    PixelSurface(const PixelSurface&) = delete;
    PixelSurface& operator=(const PixelSurface&) = delete;

    HDC dc() const { return m_dc.get(); }
    COLORREF Pixel(int x, int y) const
    {
        ::GdiFlush();
        const uint32_t bgra = m_pBits[y * m_nWidth + x];
        return RGB((bgra >> 16) & 0xFF, (bgra >> 8) & 0xFF, bgra & 0xFF);
    }

private:
    int m_nWidth;
    fw::UniqueMemoryDc m_dc;
    fw::UniqueBitmap m_bitmap;
    const uint32_t* m_pBits = nullptr;
    HGDIOBJ m_hOld = nullptr;
};
