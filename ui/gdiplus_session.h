// The process's shared GDI+ start-up: GDI+ runs while at least one session object exists.
// Every GDI+ bitmap must be deleted while a session is held.
#pragma once
#include <windows.h>

class GdiplusSession {
public:
    GdiplusSession();
    ~GdiplusSession();
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;
    bool Started() const { return m_bStarted; }

private:
    bool m_bStarted = false;
};
