// Registers the launcher (and "WebBrowserTool.exe") for the embedded browser's newest
// document mode, in both registry hives, before any window exists. Failures are logged and
// never stop the start-up.
#pragma once
#include <windows.h>

#include <string>

class CWebBrowserHelper {
public:
    // Writes the emulation value for the launcher's program name and for "WebBrowserTool.exe"
    // in the machine hive, then the current user's.
    static void FixBrowserVersion();
    // The highest major version of the installed browser; 0 when none can be read.
    static int GetBrowserVersion();
    // hive: "HKEY_LOCAL_MACHINE" selects the machine hive, any other text the current user's.
    // programName: the file name with ".exe" as ANSI text (an empty name sets the key's
    // unnamed value).
    static void FixBrowserVersion_Internal(const std::wstring& hive, const std::string& programName, DWORD value);
};
