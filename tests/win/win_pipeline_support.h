// The update pipeline's pieces for Windows tests: the launcher's Windows platform with its
// log, reports and desktop steps recorded instead of carried out. The package walk's threads
// log too, so the records are kept under a lock; read them once the call under test returned.
#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "update/windows_update_host.h"

namespace wintest {

class RecordingHost : public WindowsUpdateHost {
public:
    void Log(const wchar_t* level, const char*, int, const std::wstring& text) override
    {
        Record(lines, std::wstring(level) + L":" + text);
    }
    void ReportEventCode(int code) override { Record(reports, L"event:" + std::to_wstring(code)); }
    void ReportMessage(const std::wstring& message) override { Record(reports, L"message:" + message); }
    void SetRegisties() override { Record(desktop, L"SetRegisties"); }
    unsigned long CopyLauncherTo(const std::wstring& destination) override
    {
        Record(desktop, L"CopyLauncherTo:" + destination);
        return 0;
    }
    void CreateShortcuts() override { Record(desktop, L"CreateShortcuts"); }

    std::vector<std::wstring> lines, reports, desktop;

private:
    void Record(std::vector<std::wstring>& to, std::wstring text)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        to.push_back(std::move(text));
    }
    std::mutex m_lock;
};

}  // namespace wintest
