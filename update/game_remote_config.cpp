#include "update/game_remote_config.h"

#include <memory>

#include "app/web_app.h"
#include "app/window_message_handler.h"
#include "core/update_driver.h"
#include "ui/update_window_proxy.h"
#include "core/package_download.h"
#include "core/package_extraction.h"
#include "core/profile.h"
#include "core/profile_names.h"
#include "core/remote_config.h"
#include "core/resume_record.h"
#include "core/version_record.h"
#include "diag/file_log.h"
#include "update/pipeline_globals.h"

CGameRemoteConfig& CGameRemoteConfig::Instance()
{
    // Never destroyed: the update thread may still run while the process shuts down.
    static CGameRemoteConfig* config = new CGameRemoteConfig;
    return *config;
}

core::UpdateContext CGameRemoteConfig::MakeContext(core::ILauncherWindow* window)
{
    core::PipelinePaths paths;
    if (const CWebApp* app = GetWebApp()) {
        paths.installDir = app->m_strInstallDir;
        paths.clientDir = app->m_strClientDir;
    }
    paths.gameCode = GAME_CODE;
    paths.ditchCode = DITCH_CODE;
    return core::UpdateContext{m_host, g_pipelineState, window, paths};
}

DWORD WINAPI CGameRemoteConfig::InitRemoteConfig(LPVOID lpParameter)
{
    std::unique_ptr<std::shared_ptr<UpdateWindowProxy>> share(static_cast<std::shared_ptr<UpdateWindowProxy>*>(lpParameter));
    Instance().RunUpdate(share ? share->get() : nullptr);
    return 0;
}

void CGameRemoteConfig::RunUpdate(core::ILauncherWindow* window)
{
    core::UpdateContext ctx = MakeContext(window);
    core::InitRemoteConfig(ctx, CONFIG_URL, [] {
        CWindowMessageHandler& handler = CWindowMessageHandler::Instance();
        if (handler.FileParam().empty()) handler.GetTaviUriFromCommandLine();
        g_launcherExeName = core::LauncherName(GAME_CODE, handler.FileParam());
        return g_launcherExeName;
    });
}

int CGameRemoteConfig::FetchRemoteConfig()
{
    core::UpdateContext ctx = MakeContext(nullptr);
    return core::FetchRemoteConfig(ctx, CONFIG_URL);
}

void CGameRemoteConfig::CStringToLocalClientVersion(core::LocalClientVersion& target, const std::wstring& text)
{
    core::UpdateContext ctx = MakeContext(nullptr);
    target = core::CStringToLocalClientVersion(ctx, text);
}

bool CGameRemoteConfig::OnDownLoad(core::ILauncherWindow* window)
{
    core::UpdateContext ctx = MakeContext(window);
    ctx.paths.launcherExeName = g_launcherExeName;
    return core::OnDownLoad(ctx);
}

bool CGameRemoteConfig::UnzipFile(const std::wstring& packagePath, core::ILauncherWindow* window, std::FILE* openHandle)
{
    core::UpdateContext ctx = MakeContext(window);
    ctx.paths.launcherExeName = g_launcherExeName;
    return core::UnzipFile(ctx, packagePath, openHandle);
}

bool CGameRemoteConfig::OnUnzipFile(const std::wstring& packagePath, core::ILauncherWindow* window)
{
    core::UpdateContext ctx = MakeContext(window);
    return core::OnUnzipFile(ctx, packagePath);
}

void ReadLocalClientVersion()
{
    core::UpdateContext ctx = CGameRemoteConfig::Instance().MakeContext(nullptr);
    core::ReadLocalClientVersion(ctx);
}

void WriteLocalClientVersion()
{
    core::UpdateContext ctx = CGameRemoteConfig::Instance().MakeContext(nullptr);
    core::WriteLocalClientVersion(ctx);
}

void WriteResumeRecord()
{
    core::UpdateContext ctx = CGameRemoteConfig::Instance().MakeContext(nullptr);
    core::WriteResumeRecord(ctx);
}

std::string ReadResumeField(const std::string& key)
{
    core::UpdateContext ctx = CGameRemoteConfig::Instance().MakeContext(nullptr);
    return core::ReadResumeField(ctx, key);
}
