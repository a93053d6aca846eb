#include "fw/app.h"

#include "core/profile/profile_names.h"

namespace fw {

namespace {
CWinApp* g_pApp = nullptr;
}

CWinApp* GetApp() { return g_pApp; }

HINSTANCE ResourceModule() { return g_pApp ? g_pApp->InstanceHandle() : ::GetModuleHandleW(nullptr); }

std::wstring ModuleFileName()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

CWinApp::CWinApp()
{
    g_pApp = this;
    m_strAppName = core::ApplicationNameFromModulePath(ModuleFileName());
}

CWinApp::~CWinApp()
{
    if (g_pApp == this) g_pApp = nullptr;
}

BOOL CWinApp::InitApplication() { return TRUE; }

BOOL CWinApp::InitInstance()
{
    if (m_dwRestartManagerSupportFlags & kRestartManagerSupportRestart)
        ::RegisterApplicationRestart(nullptr, 0);
    return TRUE;
}

int CWinApp::ExitInstance() { return 0; }

int CWinApp::MessageLoop()
{
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return ExitInstance();
}

int CWinApp::Run(HINSTANCE hInstance)
{
    m_hInstance = hInstance;
    if (!InitApplication()) return -1;
    if (!InitInstance()) return ExitInstance();
    return MessageLoop();
}

int AppMessageBox(const std::wstring& text, UINT type)
{
    if ((type & MB_ICONMASK) == 0 && (type & MB_TYPEMASK) == MB_OK) type |= MB_ICONEXCLAMATION;
    HWND owner = ::GetActiveWindow();
    CWinApp* app = GetApp();
    if (!owner && app) owner = app->MainWindow();
    const std::wstring caption = app ? app->AppName() : std::wstring();
    return ::MessageBoxW(owner, text.c_str(), caption.c_str(), type);
}

}  // namespace fw
