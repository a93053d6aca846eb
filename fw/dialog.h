// A dialog made from a resource template, run modally, with its messages routed to virtual
// members of the derived class.
#pragma once
#include <windows.h>

namespace fw {

class CDialog {
public:
    explicit CDialog(UINT templateId, HWND parent = nullptr);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    INT_PTR DoModal();
    void EndDialog(INT_PTR result);
    HWND GetSafeHwnd() const { return m_hWnd; }

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // Messages the derived class handles itself; set handled to stop the default.
    virtual INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    UINT m_nTemplateId;
    HWND m_hParent;
    HWND m_hWnd = nullptr;
};

}  // namespace fw
