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
    core::ILauncherWindow* target;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (!m_pTarget) return;
        target = m_pTarget;
        ++m_nRunningOnCaller;
    }
    // On this (update) thread, as the window's SetReady may go on to start the game and wait
    // for it here. The target object outlives the call: its owner waits in WaitUntilIdle.
    target->SetReady();
    {
        std::lock_guard<std::mutex> hold(m_lock);
        --m_nRunningOnCaller;
    }
    m_idle.notify_all();
}

void UpdateWindowProxy::Detach()
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_hWnd = nullptr;
    m_pTarget = nullptr;
}

void UpdateWindowProxy::WaitUntilIdle()
{
    std::unique_lock<std::mutex> hold(m_lock);
    m_idle.wait(hold, [this] { return m_nRunningOnCaller == 0; });
}

bool UpdateWindowProxy::RunPendingCall(LPARAM call) const
{
    if (call == 0 || m_pendingCall.load() != call) return false;
    (*reinterpret_cast<const std::function<void()>*>(call))();
    return true;
}
