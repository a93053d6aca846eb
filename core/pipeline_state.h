// The update pipeline's process-wide values, gathered in one object so the portable pipeline
// can run against a state of its own in tests. The launcher has exactly one (update/).
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "core/client_version.h"

namespace core {

// Keys compared code unit by code unit; filled once per process, never changed afterwards.
using RemoteConfigMap = std::map<std::wstring, std::wstring>;

struct PipelineState {
    RemoteConfigMap remoteConfig;

    LocalClientVersion localClientVersion;
    LocalClientVersion remoteClientVersion;
    LocalClientVersion miniUpdateVersion;
    LocalClientVersion downloadVersion;
    int freshInstall = 0;

    // Read by the GUI thread at any moment of a transfer: whole 64-bit values only.
    std::atomic<std::int64_t> downloadOffset{0};
    std::atomic<std::int64_t> resumeFrom{0};
    std::atomic<std::int64_t> downloadTotal{0};
};

// The value of a key, or nullptr when the key is absent (an empty value is present).
inline const std::wstring* FindConfigValue(const RemoteConfigMap& config, const std::wstring& key)
{
    const auto it = config.find(key);
    return it == config.end() ? nullptr : &it->second;
}

}  // namespace core
