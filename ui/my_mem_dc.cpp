#include "ui/my_mem_dc.h"

CMYMemDC::CMYMemDC(HDC target)
    : m_hTarget(target), m_bMemDC(::GetDeviceCaps(target, TECHNOLOGY) != DT_RASPRINTER)
{
    if (!m_bMemDC) return;
    ::GetClipBox(target, &m_rect);
    m_memDc.reset(::CreateCompatibleDC(target));
    m_bitmap.reset(::CreateCompatibleBitmap(target, m_rect.right - m_rect.left, m_rect.bottom - m_rect.top));
    if (!m_memDc || !m_bitmap) {
        m_bMemDC = false;  // no surface: draw straight on the target
        return;
    }
    m_hOldBitmap = ::SelectObject(m_memDc.get(), m_bitmap.get());
    ::SetWindowOrgEx(m_memDc.get(), m_rect.left, m_rect.top, nullptr);
}

CMYMemDC::~CMYMemDC()
{
    if (!m_bMemDC) return;
    ::BitBlt(m_hTarget, m_rect.left, m_rect.top, m_rect.right - m_rect.left, m_rect.bottom - m_rect.top, m_memDc.get(),
             m_rect.left, m_rect.top, SRCCOPY);
    ::SelectObject(m_memDc.get(), m_hOldBitmap);
}
