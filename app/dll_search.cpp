#include "app/dll_search.h"

#include <windows.h>

void RestrictDllSearchToSystem32()
{
    // Windows 7 has the call only with update KB2533623, so it is looked up.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    // Without it, at least the current directory leaves the search.
    ::SetDllDirectoryW(L"");
}
