// The browser control on the main launcher window: the wrapper of its automation interface,
// and the container manager that gives it the launcher's control site. The wrapper installs
// that manager for as long as it lives, so the control made on the window gets the site.
#pragma once
#include <windows.h>

#include <string>

#include "fw/ole_control_site.h"

class CCustomOccManager : public fw::COccManager {
public:
    fw::COleControlSite* CreateSite(HWND container) override;
};

class CWebBrowser2 {
public:
    static constexpr DISPID kNavigate = 104;
    static constexpr DISPID kReadyState = -525;
    static constexpr long kReadyStateComplete = 4;

    CWebBrowser2();
    ~CWebBrowser2();
    CWebBrowser2(const CWebBrowser2&) = delete;
    CWebBrowser2& operator=(const CWebBrowser2&) = delete;

    // Creates the browser control in the dialog's control `id`; false when there is none.
    bool Create(HWND dialog, int id);
    // The control follows its place after the dialog moved or sized it.
    void UpdatePlace();
    HWND GetSafeHwnd() const { return m_pSite ? m_pSite->Place() : nullptr; }

    // The control's own answer: a failure means the navigation never started.
    HRESULT Navigate(const std::wstring& url);
    // True when frame is the control's top-level document object, not one of its frames.
    bool IsTopLevel(IDispatch* frame) const { return m_pSite && m_pSite->IsControl(frame); }
    // The control's ready state, or -1 when it cannot be read.
    long GetReadyState();

    // The control's events, as the dialog's event sink receives them: new windows go to the
    // default browser, and the control is shown once the top-level page has loaded.
    void OnControlEvent(DISPID event, DISPPARAMS& params);
    void OnNewWindow3(VARIANT_BOOL* cancel, const wchar_t* url);
    void OnNavigateComplete2(IDispatch* frame);
    void OnDocumentComplete(IDispatch* frame);

private:
    CCustomOccManager* m_pOccManager;
    fw::COleControlSite* m_pSite = nullptr;
};
