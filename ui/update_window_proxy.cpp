#include "ui/update_window_proxy.h"

#include "fw/win_handle.h"

std::pair<HWND, core::ILauncherWindow*> UpdateWindowProxy::Attached()
{
    std::lock_guard<std::mutex> hold(m_lock);
    return {m_hWnd, m_pTarget};
}

void UpdateWindowProxy::RunOnGuiThread(const std::function<void(core::ILauncherWindow&)>& fn)
{
    const std::pair<HWND, core::ILauncherWindow*> attached = Attached();
    HWND hwnd = attached.first;
    core::ILauncherWindow* target = attached.second;
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

void UpdateWindowProxy::RunPostedOnGuiThread(const std::function<void(core::ILauncherWindow&)>& fn)
{
    const std::pair<HWND, core::ILauncherWindow*> attached = Attached();
    HWND hwnd = attached.first;
    core::ILauncherWindow* target = attached.second;
    if (!hwnd) return;
    fw::UniqueHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!done) return;
    const std::function<void()> call = [&] { fn(*target); };
    {
        std::lock_guard<std::mutex> hold(m_postLock);
        m_posted = PostedCall{&call, done.get(), false};
    }
    bool posted = ::PostMessageW(hwnd, kRunPostedCall, 0, reinterpret_cast<LPARAM>(&call)) != FALSE;
    // A destroyed window never runs it: the wait ends with the window, unless the call is
    // already running (then it ends with the call).
    while (posted && ::WaitForSingleObject(done.get(), 100) == WAIT_TIMEOUT) {
        std::lock_guard<std::mutex> hold(m_postLock);
        if (!m_posted.running && !::IsWindow(hwnd)) posted = false;
    }
    std::lock_guard<std::mutex> hold(m_postLock);
    m_posted = PostedCall{};
}

void UpdateWindowProxy::RunPostedCall(LPARAM call)
{
    const std::function<void()>* fn = nullptr;
    HANDLE done = nullptr;
    {
        std::lock_guard<std::mutex> hold(m_postLock);
        if (call == 0 || reinterpret_cast<LPARAM>(m_posted.call) != call || m_posted.running) return;
        m_posted.running = true;
        fn = m_posted.call;
        done = m_posted.done;
    }
    (*fn)();
    std::lock_guard<std::mutex> hold(m_postLock);
    m_posted.running = false;
    ::SetEvent(done);
}

void UpdateWindowProxy::InitWebBrower()
{
    // The browser control's Navigate runs here: outside the sent message.
    RunPostedOnGuiThread([](core::ILauncherWindow& w) { w.InitWebBrower(); });
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
