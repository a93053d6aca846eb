// The update pipeline's process-wide object. Its operations run on the update thread (the
// registry lookup also at start-up); the work itself is done by the portable pipeline in core/,
// on the launcher's Windows platform and process-wide values.
#pragma once
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>

#include "core/update/client_version.h"
#include "core/update/launcher_window.h"
#include "core/update/update_context.h"
#include "update/windows_update_host.h"

// What the update pipeline takes from the launcher around it: the directories start-up settled
// and the platform's command-line parameters. The application hands them in before the update
// thread starts, so the pipeline needs nothing of the application or its windows.
struct UpdateSettings {
    std::wstring installDir;
    std::wstring clientDir;
    // The launcher's file parameter (from its own file name); "" without one.
    std::function<std::wstring()> fileParam;
    // The value of a platform parameter of the command line ("source", ...); "" without one.
    std::function<std::wstring(const std::wstring& key)> platformParam;
};

class CGameRemoteConfig {
public:
    static CGameRemoteConfig& Instance();

    void Configure(UpdateSettings settings) { m_settings = std::move(settings); }
    const UpdateSettings& Settings() const { return m_settings; }

    // The update thread's routine. lpParameter: a heap-allocated
    // std::shared_ptr<core::ILauncherWindow> that the thread takes over (the window may be
    // closed while the thread still runs). Always 0.
    static DWORD WINAPI InitRemoteConfig(LPVOID lpParameter);
    // The same on the calling thread, for any launcher window.
    void RunUpdate(core::ILauncherWindow* window);

    // Reads a string value; an empty string when the key or value is missing or not a string
    // (each failure logged).
    static std::wstring QueryRegistryKey(HKEY root, const std::wstring& subKey, const std::wstring& valueName);

    // 0, 101 (no transfer handle) or 102 (request failed).
    int FetchRemoteConfig();
    // Parses a version text into target, logging it.
    void CStringToLocalClientVersion(core::LocalClientVersion& target, const std::wstring& text);

    bool OnDownLoad(core::ILauncherWindow* window);
    bool UnzipFile(const std::wstring& packagePath, core::ILauncherWindow* window, std::FILE* openHandle);
    bool OnUnzipFile(const std::wstring& packagePath, core::ILauncherWindow* window);

    // Desktop integration: the uninstall entry (after repairing the game's stored window
    // size) and the shortcuts to the launcher copy. Failures are only logged.
    void SetRegisties();
    void AdjustWindowSize();
    // Deletes the uninstall key and the launcher's key under HKEY_CLASSES_ROOT (uninstall).
    void RemoveRegisties();
    void CreateShortcuts();
    void CreateShortcut(const std::wstring& name, const std::wstring& folder, const std::wstring& target,
                        const std::wstring& arguments);
    void CreateLink(const std::wstring& target, const std::wstring& linkPath, const std::wstring& arguments);

    // A pipeline run on this process's values, paths and platform. The launcher name is left
    // empty: it belongs to the update thread, which fills it in where it needs it.
    core::UpdateContext MakeContext(core::ILauncherWindow* window);

    CGameRemoteConfig(const CGameRemoteConfig&) = delete;
    CGameRemoteConfig& operator=(const CGameRemoteConfig&) = delete;

private:
    CGameRemoteConfig() = default;
    WindowsUpdateHost m_host;
    UpdateSettings m_settings;
};

// A folder of the current user (CSIDL_DESKTOPDIRECTORY, CSIDL_STARTMENU, ...); "" if unknown.
std::wstring SpecialFolder(int csidl);

// The version and resume records, on the process-wide values.
void ReadLocalClientVersion();
void WriteLocalClientVersion();
void WriteResumeRecord();
std::string ReadResumeField(const std::string& key);
