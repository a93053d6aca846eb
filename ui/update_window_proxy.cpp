#include "ui/update_window_proxy.h"

void UpdateWindowProxy::RunOnGuiThread(const std::function<void(core::ILauncherWindow&)>& fn)
{
    HWND hwnd;
    core::ILauncherWindow* target;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        hwnd = m_hWnd;
        target = m_pTarget;
    }
    if (!hwnd) return;
    // The window runs the call in its own message handling, so the target is alive while it
    // runs; SendMessage waits for it, and returns at once for a window destroyed meanwhile.
    const std::function<void()> call = [&] { fn(*target); };
    const LPARAM param = reinterpret_cast<LPARAM>(&call);
    m_pendingCall.store(param);
    ::SendMessageW(hwnd, kRunOnGuiThread, 0, param);
    m_pendingCall.store(0);
}

void UpdateWindowProxy::UpdateProgress(const std::wstring& status, const std::wstring& detail, int percent,
                                       int downloading)
{
    RunOnGuiThread([&](core::ILauncherWindow& w) { w.UpdateProgress(status, detail, percent, downloading); });
}

void UpdateWindowProxy::ShowProgressControls(bool show)
{
    RunOnGuiThread([&](core::ILauncherWindow& w) { w.ShowProgressControls(show); });
}

void UpdateWindowProxy::InitWebBrower()
{
    RunOnGuiThread([](core::ILauncherWindow& w) { w.InitWebBrower(); });
}

void UpdateWindowProxy::SetReady()
{
    // On this (update) thread, as the window's SetReady may go on to start the game from here.
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_pTarget) m_pTarget->SetReady();
}

void UpdateWindowProxy::Detach()
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_hWnd = nullptr;
    m_pTarget = nullptr;
}
