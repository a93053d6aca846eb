// The pipeline's surroundings in the benchmarks: no window to draw on, and a platform that
// keeps no record of log lines and reports (the tests need one, the launcher has none).
#pragma once
#include <string>

#include "core/update/launcher_window.h"
#include "core/update/posix_update_host.h"

namespace bench {

class NoWindow : public core::ILauncherWindow {
public:
    void UpdateProgress(const std::wstring&, const std::wstring&, int, int) override {}
    void ShowProgressControls(bool) override {}
    void InitWebBrower() override {}
    void SetReady() override {}
};

class QuietHost : public core::PosixUpdateHost {
public:
    void Log(const wchar_t*, const char*, int, const std::wstring&) override {}
    void ReportEventCode(int) override {}
    void ReportMessage(const std::wstring&) override {}
};

}  // namespace bench
