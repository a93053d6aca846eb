// A DLL planted beside the launcher under the name of a system DLL (dbghelp.dll, version.dll,
// ...), as a hostile user of a writable folder would. Whenever a process loads it, it leaves
// "<its own path>.loaded" beside itself, so a test sees any load that should have come from
// System32. It exports the one function the launcher takes from dbghelp.dll, so that a launcher
// binding that import at start would load it fully and run its entry point.
#include <windows.h>

namespace {

void LeaveMarker(HMODULE self)
{
    wchar_t path[MAX_PATH * 2] = {};
    const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    lstrcatW(path, L".loaded");
    const HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) LeaveMarker(self);
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI MiniDumpWriteDump(HANDLE, DWORD, HANDLE, int, void*, void*, void*)
{
    return FALSE;
}
