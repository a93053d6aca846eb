// What the update thread holds of the splash window. The thread is never joined and may outlive
// the window (the player closes the launcher mid-download), so it does not hold the window
// itself but this proxy, which it co-owns: the proxy carries each operation over to the GUI
// thread while the window exists, waits until it has been applied, and does nothing once the
// window is gone.
#pragma once
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <utility>

#include "core/update/launcher_window.h"

class UpdateWindowProxy : public core::ILauncherWindow {
public:
    // The message the window handles by running the function its lParam points at.
    static constexpr UINT kRunOnGuiThread = WM_APP + 0x40;
    // The same, posted rather than sent: the window hands it to RunPostedCall.
    static constexpr UINT kRunPostedCall = WM_APP + 0x41;

    UpdateWindowProxy(HWND window, core::ILauncherWindow* target) : m_hWnd(window), m_pTarget(target) {}

    void UpdateProgress(const std::wstring& status, const std::wstring& detail, int percent,
                        int downloading) override;
    void ShowProgressControls(bool show) override;
    void InitWebBrower() override;
    // Runs on the calling (update) thread: tells the window the update is complete. That may
    // start the game and wait for its end, so it runs without the proxy's lock: the window can
    // be closed meanwhile without waiting for the game.
    void SetReady() override;

    // Called by the window as it is destroyed; later operations do nothing. Never waits.
    void Detach();
    // Waits until no operation that runs on the calling thread (SetReady) is still using the
    // target; called before the target object itself goes, after its window has gone.
    void WaitUntilIdle();

    // Handling of kRunOnGuiThread on the window thread: runs call when it is the function this
    // proxy is sending right now (never a stray message's pointer); false otherwise.
    bool RunPendingCall(LPARAM call) const;
    // Runs the posted call the message names, on the window thread, when it is the one the
    // update thread is waiting for (never a stray message's pointer), and releases the waiter.
    void RunPostedCall(LPARAM call);

private:
    // The window and the target, or null ones once detached.
    std::pair<HWND, core::ILauncherWindow*> Attached();
    void RunOnGuiThread(const std::function<void(core::ILauncherWindow&)>& fn);
    // Like RunOnGuiThread, but the call runs from the window's own message loop, outside any
    // message sent from another thread: a COM call made there may call out to other
    // apartments, which it may not do while handling a cross-thread sent message. The caller
    // still waits until it has run, or until the window is gone.
    void RunPostedOnGuiThread(const std::function<void(core::ILauncherWindow&)>& fn);

    std::mutex m_lock;
    std::condition_variable m_idle;
    HWND m_hWnd;
    core::ILauncherWindow* m_pTarget;
    int m_nRunningOnCaller = 0;
    std::atomic<LPARAM> m_pendingCall{0};

    struct PostedCall {
        const std::function<void()>* call = nullptr;
        HANDLE done = nullptr;
        bool running = false;
    };
    std::mutex m_postLock;
    PostedCall m_posted;
};
