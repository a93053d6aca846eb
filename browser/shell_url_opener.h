// Opens an address the page wanted in a new window in the player's default browser. Only an
// http or https address leaves the launcher: the shell would start anything else it is given
// (a file, a share's program, a search or diagnostics protocol) without the browser's zone
// checks or protocol prompt, and any frame of the page, a third party's too, can ask for a new
// window. The launcher runs with administrator rights, and a browser it started would inherit them; so
// the address goes to the desktop's shell (the player's explorer, running with the player's
// own rights), which starts the browser. Only when that shell cannot be reached does the
// launcher start it itself. Either way the shell's default verb opens the address.
#pragma once
#include <windows.h>

#include <string>

enum class UrlOpenedBy { DesktopShell, Launcher, Nobody };

// True for an http or https address, by the scheme the system's URL parser reads in it (the
// one the shell goes by), in any letter case; false for everything else, an address with
// leading blanks or without a scheme among them.
bool IsWebAddress(const std::wstring& url);

// The desktop shell's own ShellExecute (through its window's automation object); a failure
// when there is no desktop shell to ask.
HRESULT OpenThroughDesktopShell(const std::wstring& url);

using DesktopShellRoute = HRESULT (*)(const std::wstring& url);

// An http or https address: the desktop shell first, then the launcher's own ShellExecute;
// logs which one opened it. Anything else is logged and dropped (Nobody).
UrlOpenedBy OpenUrlInDefaultBrowser(const std::wstring& url, DesktopShellRoute desktopShell = &OpenThroughDesktopShell);
