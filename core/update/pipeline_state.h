// The update pipeline's process-wide values, gathered in one object so the portable pipeline
// can run against a state of its own in tests. The launcher has exactly one (update/).
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "core/update/client_version.h"
#include "core/update/launcher_stop.h"

namespace core {

// Keys compared code unit by code unit; filled once per process, never changed afterwards.
using RemoteConfigMap = std::map<std::wstring, std::wstring>;

// What identifies the package a partial download belongs to: the ETag (else the Last-Modified
// text) of the answer that began it. Written by the update thread, read by the GUI thread when
// it writes the resume record, so behind a lock.
class PackageValidator {
public:
    std::string Get() const
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_text;
    }
    void Set(std::string text)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_text = std::move(text);
    }

private:
    mutable std::mutex m_lock;
    std::string m_text;
};

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
    PackageValidator packageValidator;
    // Set by the launcher window when it closes.
    LauncherStop stop;
};

// The value of a key, or nullptr when the key is absent (an empty value is present).
inline const std::wstring* FindConfigValue(const RemoteConfigMap& config, const std::wstring& key)
{
    const auto it = config.find(key);
    return it == config.end() ? nullptr : &it->second;
}

}  // namespace core
