#include "ui/gdiplus_session.h"

#include <objidl.h>
#include <gdiplus.h>

#include <mutex>

namespace {
std::mutex g_gdiplusLock;
int g_gdiplusUsers = 0;
ULONG_PTR g_gdiplusToken = 0;
}  // namespace

GdiplusSession::GdiplusSession()
{
    std::lock_guard<std::mutex> hold(g_gdiplusLock);
    if (g_gdiplusUsers == 0) {
        Gdiplus::GdiplusStartupInput input;
        if (Gdiplus::GdiplusStartup(&g_gdiplusToken, &input, nullptr) != Gdiplus::Ok) return;
    }
    ++g_gdiplusUsers;
    m_bStarted = true;
}

GdiplusSession::~GdiplusSession()
{
    if (!m_bStarted) return;
    std::lock_guard<std::mutex> hold(g_gdiplusLock);
    if (--g_gdiplusUsers == 0) Gdiplus::GdiplusShutdown(g_gdiplusToken);
}
