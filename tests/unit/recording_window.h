// A launcher window for tests: records every call as one readable line, in order, such as
// "UpdateProgress(,1/5,20,0)", "ShowProgressControls(1)", "SetReady()", "InitWebBrower()".
// Texts are UTF-8 so gtest shows Chinese status texts as they are.
#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "core/update/launcher_window.h"
#include "core/update/posix_update_host.h"

namespace testing_support {

class RecordingWindow : public core::ILauncherWindow {
public:
    void UpdateProgress(const std::wstring& status, const std::wstring& detail, int percent,
                        int downloading) override
    {
        Record("UpdateProgress(" + core::WideToUtf8(status) + "," + core::WideToUtf8(detail) + "," +
               std::to_string(percent) + "," + std::to_string(downloading) + ")");
    }
    void ShowProgressControls(bool show) override
    {
        Record(std::string("ShowProgressControls(") + (show ? "1" : "0") + ")");
    }
    void InitWebBrower() override { Record("InitWebBrower()"); }
    void SetReady() override { Record("SetReady()"); }

    std::vector<std::string> Calls() const
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_calls;
    }

private:
    void Record(std::string call)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_calls.push_back(std::move(call));
    }

    mutable std::mutex m_lock;
    std::vector<std::string> m_calls;
};

}  // namespace testing_support
