// The update pipeline's process-wide object.
#pragma once
#include <windows.h>

#include <string>

class CGameRemoteConfig {
public:
    // Reads a string value; an empty string when the key or value is missing or not a string
    // (each failure logged).
    static std::wstring QueryRegistryKey(HKEY root, const std::wstring& subKey, const std::wstring& valueName);
};
