// The login and the game: the gate of readiness and login, the game's start with its command
// line, the wait for its end and the launcher's close afterwards. The main launcher window
// owns one and hands it the page's login results and the update's readiness.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "core/launch/launch_gate.h"
#include "fw/win_handle.h"

class GameLauncher {
public:
    // window: the main launcher window, the sender of the platform's show-window message once
    // the game has ended; endRun: ends the launcher's run after that (the splash window's Cancel).
    GameLauncher(std::function<HWND()> window, std::function<void()> endRun)
        : m_window(std::move(window)), m_endRun(std::move(endRun))
    {
    }

    // The page's login result (window thread); launches when the update is complete.
    void OnLoginResult(const std::wstring& result);
    // The update is complete (update thread); launches when the login is in.
    void SetReady();
    bool IsReady() const { return m_gate.IsReady(); }

private:
    // Starts the game and, when it started, waits for its end and closes the launcher.
    void LaunchGame();

    std::function<HWND()> m_window;
    std::function<void()> m_endRun;
    // Readiness, the accepted login and its parameters, set under one lock.
    core::LaunchGate m_gate;
    struct GameProcess {
        fw::UniqueHandle process;
        fw::UniqueHandle thread;
        DWORD processId = 0;
    } m_gameProcess;
};
