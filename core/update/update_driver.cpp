#include "core/update/update_driver.h"

#include <atomic>

#include "core/update/package_download.h"
#include "core/update/remote_config.h"
#include "core/update/resume_record.h"
#include "core/update/version_record.h"

namespace core {

namespace {

const char kFunction[] = "CGameRemoteConfig::InitRemoteConfig";
constexpr std::size_t kPathLogChars = 2047;  // the path lines are formed in 2048 characters

std::wstring Cut(std::wstring text)
{
    if (text.size() > kPathLogChars) text.resize(kPathLogChars);
    return text;
}

// The installed client is current: register, copy the launcher, link it, and say so.
void ConfirmCurrentClient(UpdateContext& ctx)
{
    ctx.host.SetRegisties();
    const std::wstring running = ctx.host.RunningExecutablePath();
    const std::wstring copy = ctx.LauncherCopyPath();
    ctx.Info(kFunction, __LINE__, Cut(L"work_path:" + running));
    ctx.Info(kFunction, __LINE__, Cut(L"dest_path:" + copy));
    // Fails, silently, when the launcher runs from that very path.
    if (ctx.host.CopyLauncherTo(copy) == 0) ctx.host.CreateShortcuts();
    ctx.ShowStatus(L"更新已完成");
    ctx.SetReady();
    ctx.Info(kFunction, __LINE__, L"update finish!");
}

}  // namespace

void InitRemoteConfig(UpdateContext& ctx, const std::wstring& configUrl,
                      const std::function<std::wstring()>& settleLauncherName)
{
    if (!ctx.window) {
        ctx.Error(kFunction, __LINE__, L"lpParameter is NULL!");
        return;
    }
    // The whole record is read before the fetch: the player may close the launcher while the
    // fetch runs, and the record written at close must carry the recorded version with its
    // offsets, or the next start would throw the partial package away.
    LoadResumeOffsets(ctx);
    LoadResumeVersion(ctx);
    ctx.paths.launcherExeName = settleLauncherName();

    const int fetched = FetchRemoteConfig(ctx, configUrl);
    if (fetched != kConfigFetched) {
        ctx.ShowStatus(L"更新失败,请检查网络:" + std::to_wstring(fetched));
        return;
    }
    // The configuration is complete before the GUI thread reads it for the entry page.
    std::atomic_thread_fence(std::memory_order_release);
    ctx.InitWebBrower();

    PipelineState& st = ctx.state;
    ReadLocalClientVersion(ctx);
    if (const std::wstring* v = FindConfigValue(st.remoteConfig, L"ClientVersion"))
        st.remoteClientVersion = CStringToLocalClientVersion(ctx, *v);

    bool packageNeeded = true;
    if (const std::wstring* mini = FindConfigValue(st.remoteConfig, L"ClientMiniUpdateVersion")) {
        st.miniUpdateVersion = CStringToLocalClientVersion(ctx, *mini);
        packageNeeded = st.localClientVersion < st.miniUpdateVersion;
    }
    if (!packageNeeded) {
        ConfirmCurrentClient(ctx);
        return;
    }
    if (!OnDownLoad(ctx)) {
        ctx.ShowStatus(L"更新失败,请检查网络:103");
        ctx.Error(kFunction, __LINE__, L"download error");
    }
}

}  // namespace core
