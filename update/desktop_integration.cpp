// The launcher's place on the desktop: shortcuts to the launcher copy, the uninstall entry and
// the repair of the game's stored window size. Runs on the update thread.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>

#include "core/update/desktop_rules.h"
#include "core/profile/profile.h"
#include "core/profile/profile_names.h"
#include "diag/file_log.h"
#include "fw/com_ptr.h"
#include "fw/win_handle.h"
#include "update/game_remote_config.h"
#include "update/pipeline_globals.h"

namespace {

const wchar_t kWidth[] = L"Screenmanager Resolution Width_h182942802";
const wchar_t kHeight[] = L"Screenmanager Resolution Height_h2627697771";
const wchar_t kDefaultWidth[] = L"Screenmanager Resolution Width Default_h680557497";
const wchar_t kDefaultHeight[] = L"Screenmanager Resolution Height Default_h1380706816";

// Registry texts are formed in 260 characters; a longer one is not stored cut short.
constexpr std::size_t kMaxRegistryText = 259;

// COM for the calling thread, for as long as the object lives.
class ComApartment {
public:
    ComApartment() : m_hr(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(m_hr)) ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    HRESULT m_hr;
};

std::wstring InstallDir() { return CGameRemoteConfig::Instance().Settings().installDir; }

std::wstring PlatformParam(const std::wstring& key)
{
    const UpdateSettings& settings = CGameRemoteConfig::Instance().Settings();
    return settings.platformParam ? settings.platformParam(key) : std::wstring();
}

DWORD ReadDword(HKEY key, const wchar_t* name)
{
    DWORD value = 0;
    DWORD size = sizeof value;
    if (!key || ::RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
        return 0;
    return value;
}

void LogRegistryFailure(LONG result)
{
    wchar_t text[96];
    std::swprintf(text, sizeof text / sizeof text[0], L"SetRegisties lret:%ld error:%lu", result, ::GetLastError());
    LOG_ERROR("CGameRemoteConfig::SetRegisties", text);
}

}  // namespace

std::wstring SpecialFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    ::SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE);
    return path;
}

void CGameRemoteConfig::RemoveRegisties()
{
    wchar_t text[32];
    const LONG uninstall = ::RegDeleteKeyW(HKEY_CURRENT_USER, core::UninstallKeyPath(GAME_CODE).c_str());
    std::swprintf(text, sizeof text / sizeof text[0], L"lret:%ld", uninstall);
    LOG_INFO("CGameRemoteConfig::RemoveRegisties", text);
    const LONG classes = ::RegDeleteKeyW(HKEY_CLASSES_ROOT, core::ClassesRootKeyName(GAME_CODE, DITCH_CODE).c_str());
    std::swprintf(text, sizeof text / sizeof text[0], L"lret:%ld", classes);
    LOG_INFO("CGameRemoteConfig::RemoveRegisties", text);
}

void CGameRemoteConfig::CreateShortcuts()
{
    ComApartment com;
    const std::wstring installDir = InstallDir();
    const std::wstring uninstallName = core::UninstallShortcutName(GAME_CODE);
    const std::wstring target = core::LauncherCopyPath(installDir, g_launcherExeName);
    CreateShortcut(uninstallName, installDir, target, L"/uninstall");

    const std::wstring source = PlatformParam(L"source");
    if (core::SkipsDesktopShortcuts(source)) {
        LOG_INFO("CGameRemoteConfig::CreateShortcuts", L"Stop creating shortcuts: source=" + source);
        return;
    }
    LOG_INFO("CGameRemoteConfig::CreateShortcuts", L"Begin CreateShortcuts");
    const std::wstring startMenuFolder = core::StartMenuFolder(SpecialFolder(CSIDL_STARTMENU), DITCH_CODE);
    CreateShortcut(GAME_NAME, startMenuFolder, target, L"");
    CreateShortcut(uninstallName, startMenuFolder, target, L"/uninstall");
    CreateShortcut(GAME_NAME, SpecialFolder(CSIDL_DESKTOPDIRECTORY), target, L"");
    LOG_INFO("CGameRemoteConfig::CreateShortcuts", L"End CreateShortcuts");
}

void CGameRemoteConfig::CreateShortcut(const std::wstring& name, const std::wstring& folder, const std::wstring& target,
                                       const std::wstring& arguments)
{
    LOG_INFO("CGameRemoteConfig::CreateShortcut", L"Begin CreateShortcut");
    LOG_INFO("CGameRemoteConfig::CreateShortcut", folder);
    LOG_INFO("CGameRemoteConfig::CreateShortcut", arguments);
    if (::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) ::CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring linkPath = core::ShortcutFile(folder, name);
    if (::GetFileAttributesW(linkPath.c_str()) != INVALID_FILE_ATTRIBUTES) ::DeleteFileW(linkPath.c_str());
    CreateLink(target, linkPath, arguments);
    LOG_INFO("CGameRemoteConfig::CreateShortcut", L"End CreateShortcut");
}

void CGameRemoteConfig::CreateLink(const std::wstring& target, const std::wstring& linkPath,
                                   const std::wstring& arguments)
{
    LOG_INFO("CGameRemoteConfig::CreateLink", L"Begin CreateLink");
    fw::ComPtr<IShellLinkW> link;
    fw::ComPtr<IPersistFile> file;
    HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void());
    if (SUCCEEDED(hr)) hr = link->SetPath(target.c_str());
    if (SUCCEEDED(hr)) hr = link->SetArguments(arguments.c_str());
    if (SUCCEEDED(hr)) hr = link->QueryInterface(IID_IPersistFile, file.put_void());
    if (SUCCEEDED(hr)) hr = file->Save(linkPath.c_str(), TRUE);
    if (FAILED(hr)) {
        wchar_t text[96];
        std::swprintf(text, sizeof text / sizeof text[0], L"CreateLink ret:%lu hRes:%ld", ::GetLastError(),
                      static_cast<long>(hr));
        LOG_ERROR("CGameRemoteConfig::CreateLink", text);
        return;
    }
    LOG_INFO("CGameRemoteConfig::CreateLink", L"End CreateLink");
}

void CGameRemoteConfig::SetRegisties()
{
    AdjustWindowSize();
    fw::UniqueRegKey key;
    const LONG opened = ::RegCreateKeyExW(HKEY_CURRENT_USER, core::UninstallKeyPath(GAME_CODE).c_str(), 0, nullptr, 0,
                                          KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    if (opened != ERROR_SUCCESS) {
        LogRegistryFailure(opened);
        return;
    }
    const std::wstring installDir = InstallDir();
    const std::pair<const wchar_t*, std::wstring> values[] = {
        {L"DisplayIcon", core::LauncherCopyPath(installDir, g_launcherExeName)},
        {L"DisplayName", GAME_CODE},
        {L"DisplayVersion", LAUNCHER_VERSION},
        {L"UninstallString", core::UninstallCommand(installDir, g_launcherExeName)},
        {L"InstallPath", installDir},
    };
    for (const auto& [name, text] : values) {
        if (text.size() > kMaxRegistryText) {
            LOG_ERROR("CGameRemoteConfig::SetRegisties", std::wstring(L"value too long, not written: ") + name);
            continue;
        }
        const LONG written = ::RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                              static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        if (written != ERROR_SUCCESS) LogRegistryFailure(written);
    }
}

void CGameRemoteConfig::AdjustWindowSize()
{
    const std::wstring keyPath = core::GameSettingsKeyPath(GAME_NAME);
    fw::UniqueRegKey key;
    ::RegOpenKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_READ, key.put());
    const DWORD width = ReadDword(key.get(), kWidth);
    const DWORD height = ReadDword(key.get(), kHeight);
    const DWORD defaultWidth = ReadDword(key.get(), kDefaultWidth);
    const DWORD defaultHeight = ReadDword(key.get(), kDefaultHeight);
    key.reset();

    wchar_t text[256];
    std::swprintf(text, sizeof text / sizeof text[0],
                  L"AdjustWindowSize origin data windowWidth:%d windowHeight:%d windowDefaultWidth:%d "
                  L"windowDefaultHeight:%d",
                  static_cast<int>(width), static_cast<int>(height), static_cast<int>(defaultWidth),
                  static_cast<int>(defaultHeight));
    LOG_INFO("CGameRemoteConfig::AdjustWindowSize", text);
    if (core::IsNormalWindowSize(width, height)) return;

    LOG_INFO("CGameRemoteConfig::AdjustWindowSize", L"The size of window is unnormal, reset to default setting.");
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return;
    ::RegSetValueExW(key.get(), kWidth, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&defaultWidth), sizeof defaultWidth);
    ::RegSetValueExW(key.get(), kHeight, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&defaultHeight),
                     sizeof defaultHeight);
}
