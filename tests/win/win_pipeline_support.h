// The update pipeline's pieces for Windows tests: the launcher's Windows platform with its
// log, reports and desktop steps recorded instead of carried out.
#pragma once
#include <string>
#include <vector>

#include "update/windows_update_host.h"

namespace wintest {

class RecordingHost : public WindowsUpdateHost {
public:
    void Log(const wchar_t* level, const char*, int, const std::wstring& text) override
    {
        lines.push_back(std::wstring(level) + L":" + text);
    }
    void ReportEventCode(int code) override { reports.push_back(L"event:" + std::to_wstring(code)); }
    void ReportMessage(const std::wstring& message) override { reports.push_back(L"message:" + message); }
    void SetRegisties() override { desktop.push_back(L"SetRegisties"); }
    unsigned long CopyLauncherTo(const std::wstring& destination) override
    {
        desktop.push_back(L"CopyLauncherTo:" + destination);
        return 0;
    }
    void CreateShortcuts() override { desktop.push_back(L"CreateShortcuts"); }

    std::vector<std::wstring> lines, reports, desktop;
};

}  // namespace wintest
