// The update pipeline's process-wide values. They all live in one core::PipelineState; the
// names below are how the rest of the launcher reads them.
#pragma once
#include <string>

#include "core/update/pipeline_state.h"

extern core::PipelineState& g_pipelineState;

extern core::RemoteConfigMap& g_remoteConfig;
extern core::LocalClientVersion& g_localClientVersion;
extern core::LocalClientVersion& g_remoteClientVersion;
extern core::LocalClientVersion& g_miniUpdateVersion;
extern core::LocalClientVersion& g_downloadVersion;
extern int& g_freshInstall;
extern std::atomic<std::int64_t>& g_downloadOffset;
extern std::atomic<std::int64_t>& g_resumeFrom;
extern std::atomic<std::int64_t>& g_downloadTotal;

// Base name of the launcher copy in the install directory; settled, written and read by the
// update thread only.
extern std::wstring& g_launcherExeName;
