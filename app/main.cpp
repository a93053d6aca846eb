// The launcher's entry point and its one application object.
#include <windows.h>

#include "app/web_app.h"

CWebApp theApp;

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int)
{
    return theApp.Run(hInstance);
}
