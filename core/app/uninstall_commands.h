// The uninstaller's delayed removal of the install directory: a hidden command interpreter
// waits for the launcher to end (three pings as a delay), then removes the directory tree,
// which holds the running executable and its log.
#pragma once
#include <string>

namespace core {

// Parameters for cmd.exe: "/c ping 1.1.1.1 -n 3 -w 3000 > Nul & rmdir
// --ignore-fail-on-non-empty /q /s "<directory>\"". The directory is quoted: unquoted, a path
// with blanks would be taken as several directories, and rmdir /s would remove each of them.
std::wstring DelayedRemovalParameters(const std::wstring& directory);

// The default install directory as the second removal names it: "c:\\<code>-<ditch>".
std::wstring DefaultInstallDirForRemoval(const std::wstring& gameCode, const std::wstring& ditchCode);

}  // namespace core
