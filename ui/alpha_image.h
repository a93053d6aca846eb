// A 32-bit picture with alpha, decoded from a PNG resource, for the layered splash window.
// Holding one keeps GDI+ running.
#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

#include "ui/gdiplus_session.h"

class CAlphaImage {
public:
    // Decodes PNG resource id; false (and an empty image) when it is missing or undecodable.
    bool LoadPng(UINT id);
    bool IsNull() const { return m_pixels.empty(); }
    int GetWidth() const { return m_nWidth; }
    int GetHeight() const { return m_nHeight; }
    // Rows top-down, one 0xAARRGGBB value per pixel.
    std::vector<uint32_t>& Pixels() { return m_pixels; }

private:
    GdiplusSession m_gdiplus;
    int m_nWidth = 0;
    int m_nHeight = 0;
    std::vector<uint32_t> m_pixels;
};

// Scales each pixel's colour by its own alpha, as layered windows expect: channel * alpha / 255,
// truncated.
void PremultiplyAlpha(std::vector<uint32_t>& pixels);
