// Opens an address the page wanted in a new window in the player's default browser. The
// launcher runs with administrator rights, and a browser it started would inherit them; so
// the address goes to the desktop's shell (the player's explorer, running with the player's
// own rights), which starts the browser. Only when that shell cannot be reached does the
// launcher start it itself. Either way the shell's default verb opens the address.
#pragma once
#include <windows.h>

#include <string>

enum class UrlOpenedBy { DesktopShell, Launcher, Nobody };

// The desktop shell's own ShellExecute (through its window's automation object); a failure
// when there is no desktop shell to ask.
HRESULT OpenThroughDesktopShell(const std::wstring& url);

using DesktopShellRoute = HRESULT (*)(const std::wstring& url);

// The desktop shell first, then the launcher's own ShellExecute; logs which one opened it.
UrlOpenedBy OpenUrlInDefaultBrowser(const std::wstring& url, DesktopShellRoute desktopShell = &OpenThroughDesktopShell);
