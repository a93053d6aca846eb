// A dialog made from a resource template, run modally or modelessly, with its messages routed
// to virtual members of the derived class. Before a message is dispatched, a keyboard message
// for an ActiveX control goes to the control first; then the dialogs from its window up through
// its parents (not owners: a message box keeps its own keys) may filter it
// (PreTranslateMessage), whichever loop retrieved it: the launcher runs inside the system's own
// dialog and message-box loops.
#pragma once
#include <windows.h>
#include <oaidl.h>

namespace fw {

class CDialog {
public:
    explicit CDialog(UINT templateId, HWND parent = nullptr);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    INT_PTR DoModal();
    // Creates the dialog modelessly, owned by owner; false when the window cannot be made.
    bool Create(HWND owner);
    void EndDialog(INT_PTR result);
    HWND GetSafeHwnd() const { return m_hWnd; }

    // The dialog object of a window made by this class, or nullptr.
    static CDialog* FromHandle(HWND hwnd);

    // An event of the ActiveX control on the dialog's control `id` (its DISPID and arguments,
    // last argument first), as the control's site receives it.
    virtual void OnControlEvent(int id, DISPID event, DISPPARAMS& params);

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // Messages the derived class handles itself; set handled to stop the default. Messages
    // whose result is not the handled flag go through SetMessageResult.
    virtual INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    // True when the message is dealt with and must not be dispatched.
    virtual bool PreTranslateMessage(MSG&) { return false; }
    INT_PTR SetMessageResult(LRESULT result);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK GetMessageHook(int code, WPARAM wParam, LPARAM lParam);
    HINSTANCE Instance() const;
    void UseMessageFilter(bool use);

    UINT m_nTemplateId;
    HWND m_hParent;
    HWND m_hWnd = nullptr;
    bool m_bFiltering = false;
};

}  // namespace fw
