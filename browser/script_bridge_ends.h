// The two ends the page's script bridge reaches when a call arrives: the application object,
// which owns the page's window.external, and the application's main window, which takes the
// page's calls. Both are found through the framework at call time, so the browser host needs
// neither the application nor the launcher windows; they implement these.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <string>

class IPageExternalOwner {
public:
    // The object the page sees as window.external, or null.
    virtual IDispatch* PageExternal() const = 0;

protected:
    ~IPageExternalOwner() = default;
};

class IPageCallTarget {
public:
    // The page bridge's dispatcher: a method name and its parameter string to launcher actions.
    virtual std::wstring JavascriptToCPLUSPLUS(const std::wstring& method, const std::wstring& params) = 0;
    // The update is complete.
    virtual bool IsReady() const = 0;

protected:
    ~IPageCallTarget() = default;
};

// The application's window.external, or null (no application object, or not one that has it).
IDispatch* ApplicationPageExternal();
// The application's main window as the target of the page's calls, or null.
IPageCallTarget* MainWindowPageCallTarget();
