// An off-screen surface over a target context's clip box: drawing goes to a bitmap and is
// copied to the target in one step when the object goes, so a control repainted in bands does
// not flicker. A printer target is drawn on directly.
#pragma once
#include <windows.h>

#include "fw/gdi_handle.h"

class CMYMemDC {
public:
    explicit CMYMemDC(HDC target);
    ~CMYMemDC();
    CMYMemDC(const CMYMemDC&) = delete;
    CMYMemDC& operator=(const CMYMemDC&) = delete;

    // Where to draw: the off-screen context, or the target itself.
    HDC get() const { return m_bMemDC ? m_memDc.get() : m_hTarget; }

private:
    fw::UniqueBitmap m_bitmap;
    HGDIOBJ m_hOldBitmap = nullptr;
    HDC m_hTarget;
    RECT m_rect{};
    bool m_bMemDC;
    fw::UniqueMemoryDc m_memDc;
};
