#include "core/profile/profile_names.h"

#include <cwchar>

namespace core {

namespace {

std::wstring::size_type LastSeparator(const std::wstring& path)
{
    return path.find_last_of(L"\\/");
}

std::wstring Join(const std::wstring& dir, const std::wstring& name)
{
    return dir + L"\\" + name;
}

std::wstring CodeDashDitch(const std::wstring& gameCode, const std::wstring& ditchCode)
{
    return gameCode + L"-" + ditchCode;
}

}  // namespace

std::wstring ApplicationNameFromModulePath(const std::wstring& modulePath)
{
    const auto sep = LastSeparator(modulePath);
    std::wstring name = sep == std::wstring::npos ? modulePath : modulePath.substr(sep + 1);
    const auto dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot != 0) name.erase(dot);
    return name;
}

std::wstring DirectoryOfModulePath(const std::wstring& modulePath)
{
    const auto sep = LastSeparator(modulePath);
    return sep == std::wstring::npos ? std::wstring() : modulePath.substr(0, sep);
}

std::wstring FileParameter(const std::wstring& applicationName)
{
    const auto underscore = applicationName.find_last_of(L'_');
    return underscore == std::wstring::npos ? std::wstring() : applicationName.substr(underscore + 1);
}

std::wstring LauncherName(const std::wstring& gameCode, const std::wstring& fileParameter)
{
    return fileParameter.empty() ? gameCode : gameCode + L"_" + fileParameter;
}

std::wstring SettleInstallDir(const InstallDirInputs& in, const std::wstring& gameCode,
                              const std::wstring& ditchCode)
{
    std::wstring dir = in.registryInstallPath;
    if (dir.empty()) dir = Join(in.executableDir, CodeDashDitch(gameCode, ditchCode));
    if (in.driveCExists)
        dir = L"C:\\" + CodeDashDitch(gameCode, ditchCode);
    else if (in.driveDExists)
        dir = L"D:\\" + CodeDashDitch(gameCode, ditchCode);
    return dir;
}

std::wstring ClientDir(const std::wstring& installDir) { return Join(installDir, L"client"); }

std::wstring LauncherCopyPath(const std::wstring& installDir, const std::wstring& launcherName)
{
    return Join(installDir, launcherName + L".exe");
}

std::wstring UninstallCommand(const std::wstring& installDir, const std::wstring& launcherName)
{
    return LauncherCopyPath(installDir, launcherName) + L" /uninstall";
}

std::wstring PackageFilePath(const std::wstring& installDir, const std::wstring& gameCode)
{
    return Join(installDir, gameCode + L".zip");
}

std::wstring ResumeRecordPath(const std::wstring& installDir)
{
    return Join(installDir, L"tempdownload.dat");
}

std::wstring VersionRecordPath(const std::wstring& clientDir)
{
    return Join(clientDir, L"game_client_version.txt");
}

std::wstring GameDirectory(const std::wstring& clientDir, const std::wstring& gameCode)
{
    return Join(clientDir, gameCode);
}

std::wstring GameExecutablePath(const std::wstring& clientDir, const std::wstring& gameCode)
{
    return Join(GameDirectory(clientDir, gameCode), GameExecutableName(gameCode));
}

std::wstring GameExecutableName(const std::wstring& gameCode) { return gameCode + L".exe"; }

std::wstring LogFilePath(const std::wstring& gameCode, const std::wstring& ditchCode,
                         const std::wstring& applicationName)
{
    return L"C:\\" + CodeDashDitch(gameCode, ditchCode) + L"\\" + applicationName + L".log";
}

std::wstring CrashDumpPrefix(const std::wstring& installDir, const std::wstring& applicationName)
{
    return Join(installDir, applicationName);
}

bool FormatCrashDumpFileName(wchar_t* out, std::size_t capacity, const wchar_t* prefix, const LocalTimeFields& t)
{
    if (!out || capacity == 0) return false;
    const int written = std::swprintf(out, capacity, L"%ls_%04d_%02d_%02d_%02d_%02d_%02d.dmp", prefix, t.year,
                                      t.month, t.day, t.hour, t.minute, t.second);
    if (written < 0 || static_cast<std::size_t>(written) >= capacity) {
        out[0] = L'\0';
        return false;
    }
    return true;
}

std::wstring CrashDumpFileName(const std::wstring& prefix, const LocalTimeFields& t)
{
    std::wstring name(prefix.size() + 64, L'\0');
    FormatCrashDumpFileName(&name[0], name.size(), prefix.c_str(), t);
    name.resize(std::wcslen(name.c_str()));
    return name;
}

std::wstring StartMenuFolder(const std::wstring& userStartMenu, const std::wstring& ditchCode)
{
    return Join(Join(userStartMenu, L"Apps"), ditchCode);
}

std::wstring ShortcutFile(const std::wstring& folder, const std::wstring& shortcutName)
{
    return Join(folder, shortcutName + L".lnk");
}

std::wstring UninstallShortcutName(const std::wstring& gameCode) { return gameCode + L"-uninstall"; }

std::wstring UninstallKeyPath(const std::wstring& gameCode)
{
    return L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + gameCode;
}

std::wstring ClassesRootKeyName(const std::wstring& gameCode, const std::wstring& ditchCode)
{
    return CodeDashDitch(gameCode, ditchCode);
}

std::wstring GameSettingsKeyPath(const std::wstring& gameName) { return L"SOFTWARE\\dov\\" + gameName; }

std::wstring ChannelStateKeyPath(const std::wstring& gameCode, const std::wstring& ditchCode)
{
    return L"SOFTWARE\\GameLauncher\\" + gameCode + L"-" + ditchCode;
}

}  // namespace core
