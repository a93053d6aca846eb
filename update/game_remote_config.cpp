#include "update/game_remote_config.h"

#include <memory>

#include "core/update/update_driver.h"
#include "core/update/package_download.h"
#include "core/update/package_extraction.h"
#include "core/profile/profile.h"
#include "core/profile/profile_names.h"
#include "core/update/remote_config.h"
#include "core/update/resume_record.h"
#include "core/update/version_record.h"
#include "diag/file_log.h"
#include "http/server_certificate.h"
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
    paths.installDir = m_settings.installDir;
    paths.clientDir = m_settings.clientDir;
    paths.gameCode = GAME_CODE;
    paths.ditchCode = DITCH_CODE;
    core::UpdateContext ctx{m_host, g_pipelineState, window, paths};
    ctx.channelKeys = CHANNEL_PUBLIC_KEYS;
    // Schannel under Wine accepts any certificate: every https server is checked here.
    static CSchannelServerCheck serverCheck;
    ctx.serverCheck = &serverCheck;
    return ctx;
}

DWORD WINAPI CGameRemoteConfig::InitRemoteConfig(LPVOID lpParameter)
{
    std::unique_ptr<std::shared_ptr<core::ILauncherWindow>> share(
        static_cast<std::shared_ptr<core::ILauncherWindow>*>(lpParameter));
    Instance().RunUpdate(share ? share->get() : nullptr);
    return 0;
}

void CGameRemoteConfig::RunUpdate(core::ILauncherWindow* window)
{
    core::UpdateContext ctx = MakeContext(window);
    core::InitRemoteConfig(ctx, CONFIG_URL, [this] {
        g_launcherExeName = core::LauncherName(GAME_CODE, m_settings.fileParam ? m_settings.fileParam() : L"");
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
