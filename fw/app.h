// The application object and its start-up order, in the manner of the usual dialog-based
// Windows framework: InitApplication, InitInstance, then ExitInstance (or the message loop
// when InitInstance returns TRUE).
#pragma once
#include <windows.h>

#include <string>

namespace fw {

// Restart-manager support flag: register the process for restart, without recovery.
constexpr DWORD kRestartManagerSupportRestart = 0x01;

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitApplication();
    // Registers the process with the restart manager when the flags ask for it.
    virtual BOOL InitInstance();
    virtual int ExitInstance();

    // The executable's file name without extension: the application name.
    const std::wstring& AppName() const { return m_strAppName; }
    HINSTANCE InstanceHandle() const { return m_hInstance; }
    HWND MainWindow() const { return m_hMainWnd; }
    void SetMainWindow(HWND hwnd) { m_hMainWnd = hwnd; }

    // Called by the entry point: runs the start-up order and returns the exit code.
    int Run(HINSTANCE hInstance);

protected:
    DWORD m_dwRestartManagerSupportFlags = 0;

private:
    int MessageLoop();

    std::wstring m_strAppName;
    HINSTANCE m_hInstance = nullptr;
    HWND m_hMainWnd = nullptr;
};

// The one application object of the process (null before it is constructed).
CWinApp* GetApp();

// The module that holds the launcher's resources: the application's, else the executable
// (test programs have no application object).
HINSTANCE ResourceModule();

// The framework's message box: the application name as caption, the active window as owner,
// and the exclamation icon on an OK box that names no icon.
int AppMessageBox(const std::wstring& text, UINT type = MB_OK);

// Full path of the running executable.
std::wstring ModuleFileName();

}  // namespace fw
