#include "ui/alpha_image.h"

#include <cstring>

#include "ui/png_resource.h"

bool CAlphaImage::LoadPng(UINT id)
{
    m_pixels.clear();
    m_nWidth = m_nHeight = 0;
    std::unique_ptr<Gdiplus::Bitmap> bitmap = LoadPngResource(id);
    if (!bitmap) return false;
    const int width = static_cast<int>(bitmap->GetWidth());
    const int height = static_cast<int>(bitmap->GetHeight());
    Gdiplus::Rect all(0, 0, width, height);
    Gdiplus::BitmapData data{};
    if (bitmap->LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data) != Gdiplus::Ok) return false;
    m_pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y)
        std::memcpy(&m_pixels[static_cast<size_t>(y) * static_cast<size_t>(width)],
                    static_cast<const uint8_t*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride,
                    static_cast<size_t>(width) * sizeof(uint32_t));
    bitmap->UnlockBits(&data);
    m_nWidth = width;
    m_nHeight = height;
    return true;
}

void PremultiplyAlpha(std::vector<uint32_t>& pixels)
{
    for (uint32_t& p : pixels) {
        const uint32_t a = p >> 24;
        const uint32_t r = ((p >> 16) & 0xFF) * a / 255;
        const uint32_t g = ((p >> 8) & 0xFF) * a / 255;
        const uint32_t b = (p & 0xFF) * a / 255;
        p = (a << 24) | (r << 16) | (g << 8) | b;
    }
}
