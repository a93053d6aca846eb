// What the update thread holds of the splash window: each window operation is carried over to
// the window's thread while the caller waits (the entry page's navigation from the window's own
// loop, outside any message sent from another thread), SetReady runs on the caller, nothing
// reaches the window once it has detached or gone, and detaching never waits for a SetReady
// that is still running (it may be waiting for the game).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "ui/update_window_proxy.h"

namespace {

struct RecordingTarget : core::ILauncherWindow {
    std::atomic<DWORD> progressThread{0}, showThread{0}, browserThread{0}, readyThread{0};
    std::atomic<int> calls{0};
    std::atomic<bool> readyReturned{false};
    std::atomic<bool> browserInSentMessage{true};
    HANDLE holdReady = nullptr;  // SetReady waits for it when set, as a launched game would

    void UpdateProgress(const std::wstring&, const std::wstring&, int, int) override
    {
        ::Sleep(50);  // the caller must still be waiting when this has run
        progressThread = ::GetCurrentThreadId();
        ++calls;
    }
    void ShowProgressControls(bool) override
    {
        showThread = ::GetCurrentThreadId();
        ++calls;
    }
    void InitWebBrower() override
    {
        browserInSentMessage = ::InSendMessage() != FALSE;
        ::Sleep(50);  // the caller must still be waiting when this has run
        browserThread = ::GetCurrentThreadId();
        ++calls;
    }
    void SetReady() override
    {
        readyThread = ::GetCurrentThreadId();
        ++calls;
        if (holdReady) ::WaitForSingleObject(holdReady, 30000);
        readyReturned = true;
    }
};

LRESULT CALLBACK ProxyWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto* proxy = reinterpret_cast<UpdateWindowProxy*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == UpdateWindowProxy::kRunOnGuiThread) return proxy && proxy->RunPendingCall(lParam);
    if (msg == UpdateWindowProxy::kRunPostedCall) {
        if (proxy) proxy->RunPostedCall(lParam);
        return 0;
    }
    return ::DefWindowProcW(hwnd, msg, wParam, lParam);
}

// A window of this (the test's) thread that handles the proxy's message as the splash does.
struct ProxyWindow {
    ProxyWindow()
    {
        WNDCLASSW cls{};
        cls.lpfnWndProc = &ProxyWindowProc;
        cls.hInstance = ::GetModuleHandleW(nullptr);
        cls.lpszClassName = L"UpdateWindowProxyTest";
        ::RegisterClassW(&cls);
        hwnd = ::CreateWindowW(cls.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, cls.hInstance, nullptr);
        proxy = std::make_shared<UpdateWindowProxy>(hwnd, &target);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(proxy.get()));
    }
    ~ProxyWindow() { ::DestroyWindow(hwnd); }

    // Runs fn on another thread, serving this thread's messages until it has returned.
    bool RunElsewhere(const std::function<void()>& fn, DWORD timeoutMs = 20000)
    {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            fn();
            done = true;
        });
        const DWORD start = ::GetTickCount();
        MSG msg;
        while (!done && ::GetTickCount() - start < timeoutMs) {
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
            ::Sleep(5);
        }
        if (!done) {
            worker.detach();
            return false;
        }
        worker.join();
        return true;
    }

    RecordingTarget target;
    HWND hwnd = nullptr;
    std::shared_ptr<UpdateWindowProxy> proxy;
};

TEST(UpdateWindowProxy, OperationsRunOnTheWindowThreadWhileTheCallerWaits)
{
    ProxyWindow window;
    ASSERT_TRUE(window.hwnd);
    int seenByCaller = -1, seenAfterNavigation = -1;
    DWORD caller = 0;
    ASSERT_TRUE(window.RunElsewhere([&] {
        caller = ::GetCurrentThreadId();
        window.proxy->UpdateProgress(L"", L"45%", 45, 1);
        seenByCaller = window.target.calls;  // applied before the call returned
        window.proxy->ShowProgressControls(true);
        window.proxy->InitWebBrower();
        seenAfterNavigation = window.target.calls;
        window.proxy->SetReady();
    }));
    EXPECT_EQ(seenByCaller, 1);
    EXPECT_EQ(seenAfterNavigation, 3) << "the update thread went on before the navigation had run";
    EXPECT_FALSE(window.target.browserInSentMessage) << "the navigation ran inside a message sent from another thread";
    EXPECT_EQ(window.target.calls, 4);
    const DWORD windowThread = ::GetCurrentThreadId();
    EXPECT_EQ(window.target.progressThread, windowThread);
    EXPECT_EQ(window.target.showThread, windowThread);
    EXPECT_EQ(window.target.browserThread, windowThread);
    EXPECT_EQ(window.target.readyThread, caller) << "SetReady runs on the update thread itself";
}

TEST(UpdateWindowProxy, NothingReachesTheWindowAfterItDetached)
{
    ProxyWindow window;
    window.proxy->Detach();
    ASSERT_TRUE(window.RunElsewhere([&] {
        window.proxy->UpdateProgress(L"", L"1%", 1, 1);
        window.proxy->ShowProgressControls(false);
        window.proxy->InitWebBrower();
        window.proxy->SetReady();
    }));
    EXPECT_EQ(window.target.calls, 0);
}

TEST(UpdateWindowProxy, AWindowThatGoesBeforeTheNavigationRanReleasesTheCaller)
{
    ProxyWindow window;
    std::atomic<bool> returned{false};
    std::thread update([&] {
        window.proxy->InitWebBrower();
        returned = true;
    });
    ::Sleep(50);
    ::DestroyWindow(window.hwnd);  // its queue, the posted navigation with it, goes unserved
    const DWORD start = ::GetTickCount();
    while (!returned && ::GetTickCount() - start < 10000) ::Sleep(10);
    if (!returned) {
        update.detach();
        FAIL() << "the update thread still waits for a window that is gone";
    }
    update.join();
    EXPECT_EQ(window.target.calls, 0);
}

TEST(UpdateWindowProxy, RunsNoCallButTheOneBeingSent)
{
    ProxyWindow window;
    bool ran = false;
    const std::function<void()> stray = [&] { ran = true; };
    EXPECT_EQ(::SendMessageW(window.hwnd, UpdateWindowProxy::kRunOnGuiThread, 0, reinterpret_cast<LPARAM>(&stray)), 0);
    EXPECT_EQ(::SendMessageW(window.hwnd, UpdateWindowProxy::kRunOnGuiThread, 0, 0), 0);
    ::SendMessageW(window.hwnd, UpdateWindowProxy::kRunPostedCall, 0, reinterpret_cast<LPARAM>(&stray));
    EXPECT_FALSE(ran);
}

TEST(UpdateWindowProxy, DetachingNeverWaitsForASetReadyThatIsStillRunning)
{
    ProxyWindow window;
    HANDLE game = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    window.target.holdReady = game;
    std::thread update([&] { window.proxy->SetReady(); });
    while (!window.target.readyThread) ::Sleep(5);

    // The window goes while the "game" runs: detaching returns at once.
    window.proxy->Detach();
    EXPECT_FALSE(window.target.readyReturned);
    // The target's owner waits for the running call before it lets the target go.
    std::atomic<bool> idle{false};
    std::thread owner([&] {
        window.proxy->WaitUntilIdle();
        idle = true;
    });
    ::Sleep(200);
    EXPECT_FALSE(idle) << "the target may go only once SetReady has returned";
    ::SetEvent(game);
    owner.join();
    update.join();
    EXPECT_TRUE(idle);
    EXPECT_TRUE(window.target.readyReturned);
    ::CloseHandle(game);
}

}  // namespace
