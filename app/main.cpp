// The launcher's entry point and its one application object.
#include <windows.h>

#include "app/dll_search.h"
#include "app/web_app.h"
#ifdef LAUNCHER_E2E_HOOKS
#include "app/e2e_hooks.h"
#endif

CWebApp theApp;

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int)
{
    RestrictDllSearchToSystem32();
#ifdef LAUNCHER_E2E_HOOKS
    e2e::CrashWhenAsked();
#endif
    return theApp.Run(hInstance);
}
