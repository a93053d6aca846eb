// The four operations the update pipeline calls on the launcher window. The splash window
// implements them (carrying three of them over to the GUI thread); tests use a recorder.
#pragma once
#include <string>

namespace core {

class ILauncherWindow {
public:
    virtual ~ILauncherWindow() = default;
    // Status line, detail text beside the bar, bar percent 0..100, downloading (1) or
    // unpacking (0) label.
    virtual void UpdateProgress(const std::wstring& status, const std::wstring& detail, int percent,
                                int downloading) = 0;
    // true: bar, label and detail visible, status line hidden; false: the reverse.
    virtual void ShowProgressControls(bool show) = 0;
    // Opens the entry page in the embedded browser.
    virtual void InitWebBrower() = 0;
    // The update is complete; the game may start once the login result is in.
    virtual void SetReady() = 0;
};

}  // namespace core
