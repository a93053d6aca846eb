#include "app/e2e_hooks.h"

#include <windows.h>

#include <string>
#include <thread>

namespace e2e {

void CrashWhenAsked()
{
    wchar_t file[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"LAUNCHER_E2E_CRASH_FILE", file, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    std::thread([path = std::wstring(file)] {
        while (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) ::Sleep(100);
        volatile int* nowhere = nullptr;
        *nowhere = 1;
    }).detach();
}

}  // namespace e2e
