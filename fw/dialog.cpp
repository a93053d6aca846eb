#include "fw/dialog.h"

#include "fw/app.h"

namespace fw {

CDialog::CDialog(UINT templateId, HWND parent) : m_nTemplateId(templateId), m_hParent(parent) {}

CDialog::~CDialog()
{
    if (m_hWnd && ::IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
}

INT_PTR CDialog::DoModal()
{
    CWinApp* app = GetApp();
    HINSTANCE inst = app ? app->InstanceHandle() : ::GetModuleHandleW(nullptr);
    return ::DialogBoxParamW(inst, MAKEINTRESOURCEW(m_nTemplateId), m_hParent, &CDialog::DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(INT_PTR result)
{
    if (m_hWnd) ::EndDialog(m_hWnd, result);
}

INT_PTR CDialog::OnMessage(UINT, WPARAM, LPARAM, bool& handled)
{
    handled = false;
    return 0;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    CDialog* self = nullptr;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->m_hWnd = hwnd;
        return self->OnInitDialog();
    }
    self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self) return FALSE;

    bool handled = false;
    const INT_PTR result = self->OnMessage(msg, wParam, lParam, handled);
    if (handled) return result;

    switch (msg) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            self->OnOK();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            self->OnCancel();
            return TRUE;
        }
        break;
    case WM_NCDESTROY:
        self->m_hWnd = nullptr;
        break;
    default:
        break;
    }
    return FALSE;
}

}  // namespace fw
