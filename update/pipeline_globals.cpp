#include "update/pipeline_globals.h"

// Never destroyed: the update thread is not joined and may still use these while the process
// shuts down.
core::PipelineState& g_pipelineState = *new core::PipelineState;

core::RemoteConfigMap& g_remoteConfig = g_pipelineState.remoteConfig;
core::LocalClientVersion& g_localClientVersion = g_pipelineState.localClientVersion;
core::LocalClientVersion& g_remoteClientVersion = g_pipelineState.remoteClientVersion;
core::LocalClientVersion& g_miniUpdateVersion = g_pipelineState.miniUpdateVersion;
core::LocalClientVersion& g_downloadVersion = g_pipelineState.downloadVersion;
int& g_freshInstall = g_pipelineState.freshInstall;
std::atomic<std::int64_t>& g_downloadOffset = g_pipelineState.downloadOffset;
std::atomic<std::int64_t>& g_resumeFrom = g_pipelineState.resumeFrom;
std::atomic<std::int64_t>& g_downloadTotal = g_pipelineState.downloadTotal;

std::wstring& g_launcherExeName = *new std::wstring;
