// The update pipeline's process-wide object. Its operations run on the update thread (the
// registry lookup also at start-up); the work itself is done by the portable pipeline in core/,
// on the launcher's Windows platform and process-wide values.
#pragma once
#include <windows.h>

#include <cstdio>
#include <string>

#include "core/client_version.h"
#include "core/launcher_window.h"
#include "core/update_context.h"
#include "update/windows_update_host.h"

class CGameRemoteConfig {
public:
    static CGameRemoteConfig& Instance();

    // The update thread's routine. lpParameter: a heap-allocated
    // std::shared_ptr<UpdateWindowProxy> that the thread takes over (the window may be closed
    // while the thread still runs). Always 0.
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
};

// The version and resume records, on the process-wide values.
void ReadLocalClientVersion();
void WriteLocalClientVersion();
void WriteResumeRecord();
std::string ReadResumeField(const std::string& key);
