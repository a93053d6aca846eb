// Every directory, file, registry key and object name the launcher derives from its profile,
// its own executable name and the install directory. Pure functions over wide strings.
#pragma once
#include <string>

namespace core {

// Application name: the executable's file name without its extension ("Vantorra" for
// "E:\Games\Vantorra.exe"). Both "\" and "/" end a folder.
std::wstring ApplicationNameFromModulePath(const std::wstring& modulePath);

// The module path without its file name and without the separator before it.
std::wstring DirectoryOfModulePath(const std::wstring& modulePath);

// The part of the application name after its last "_"; empty when it has none.
std::wstring FileParameter(const std::wstring& applicationName);

// GAME_CODE alone, or GAME_CODE "_" file parameter.
std::wstring LauncherName(const std::wstring& gameCode, const std::wstring& fileParameter);

struct InstallDirInputs {
    std::wstring registryInstallPath;  // "InstallPath" of the uninstall key, empty when missing
    std::wstring executableDir;        // directory of the running executable
    bool driveCExists = false;
    bool driveDExists = false;
};

// Each step overrides the one before: registry value, else "<exe dir>\<code>-<ditch>";
// then "C:\<code>-<ditch>" when C:\ exists, else "D:\<code>-<ditch>" when D:\ exists.
std::wstring SettleInstallDir(const InstallDirInputs& in, const std::wstring& gameCode,
                              const std::wstring& ditchCode);

std::wstring ClientDir(const std::wstring& installDir);
std::wstring LauncherCopyPath(const std::wstring& installDir, const std::wstring& launcherName);
std::wstring UninstallCommand(const std::wstring& installDir, const std::wstring& launcherName);
std::wstring PackageFilePath(const std::wstring& installDir, const std::wstring& gameCode);
std::wstring ResumeRecordPath(const std::wstring& installDir);
std::wstring VersionRecordPath(const std::wstring& clientDir);
std::wstring GameDirectory(const std::wstring& clientDir, const std::wstring& gameCode);
std::wstring GameExecutablePath(const std::wstring& clientDir, const std::wstring& gameCode);
// File name of the game executable as a process list reports it ("qorn.exe").
std::wstring GameExecutableName(const std::wstring& gameCode);

// Always on drive C:, whatever the install directory.
std::wstring LogFilePath(const std::wstring& gameCode, const std::wstring& ditchCode,
                         const std::wstring& applicationName);

std::wstring CrashDumpPrefix(const std::wstring& installDir, const std::wstring& applicationName);

struct LocalTimeFields {
    int year, month, day, hour, minute, second;
};
// "<prefix>_YYYY_MM_DD_hh_mm_ss.dmp"
std::wstring CrashDumpFileName(const std::wstring& prefix, const LocalTimeFields& t);
// The same name written into a caller's buffer without touching the heap (a crash may have
// happened with the heap's lock held). False, with an empty buffer, when it does not fit.
bool FormatCrashDumpFileName(wchar_t* out, std::size_t capacity, const wchar_t* prefix, const LocalTimeFields& t);

std::wstring StartMenuFolder(const std::wstring& userStartMenu, const std::wstring& ditchCode);
std::wstring ShortcutFile(const std::wstring& folder, const std::wstring& shortcutName);
std::wstring UninstallShortcutName(const std::wstring& gameCode);

// Registry key paths (without the root).
std::wstring UninstallKeyPath(const std::wstring& gameCode);
std::wstring ClassesRootKeyName(const std::wstring& gameCode, const std::wstring& ditchCode);
std::wstring GameSettingsKeyPath(const std::wstring& gameName);
// The key of the launcher's own state for its profile under HKEY_LOCAL_MACHINE
// (SOFTWARE, GameLauncher, then "<code>-<ditch>"): what only an elevated process may change.
// The uninstaller leaves it.
std::wstring ChannelStateKeyPath(const std::wstring& gameCode, const std::wstring& ditchCode);

}  // namespace core
