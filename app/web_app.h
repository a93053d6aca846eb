// The launcher's application object: settles the directories, guards against a second
// launcher or a running game, and runs the splash window for the launcher's whole life.
#pragma once
#include <windows.h>

#include <string>

#include "browser/script_bridge_ends.h"
#include "fw/app.h"
#include "fw/win_handle.h"
#include "update/game_remote_config.h"

class CImpIDispatch;

class CWebApp : public fw::CWinApp, public IPageExternalOwner {
public:
    CWebApp();
    ~CWebApp() override;

    BOOL InitInstance() override;
    int ExitInstance() override;
    BOOL InitApplication() override;

    // True when the game runs (or when the process list cannot be read).
    bool IsGameRunning();

    // Removes the game; started by the uninstall entry with "/uninstall".
    void UnInstall();
    // Removes a directory with everything in it; true when the directory itself is gone.
    static BOOL DeleteNotNullDir(const std::wstring& path);

    // The page's window.external: m_pDispatch.
    IDispatch* PageExternal() const override;

    CImpIDispatch* m_pDispatch = nullptr;
    std::wstring m_strInstallDir;
    std::wstring m_strClientDir;
    fw::UniqueHandle m_hMutex;

private:
    // Shows "游戏已启动" and ends the process with exit code 0.
    [[noreturn]] void EndBecauseAlreadyRunning();
};

// What the update pipeline gets of this launcher: the directories and the platform's
// parameters of this process's command line.
UpdateSettings LauncherUpdateSettings(const std::wstring& installDir, const std::wstring& clientDir);
