#include "fw/dialog.h"

#include "fw/app.h"
#include "fw/ole_control_site.h"

namespace fw {

namespace {
const wchar_t kDialogProperty[] = L"fw.CDialog";

// One message filter per thread, in place while any dialog of the thread uses it.
thread_local HHOOK t_hFilterHook = nullptr;
thread_local int t_nFilterUsers = 0;

// The window a dialog filter may look at after hwnd: its parent while hwnd is a child. An owner
// is not a parent: a message box or another program's window owned by a dialog keeps its keys.
HWND EnclosingWindow(HWND hwnd)
{
    return (::GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_CHILD) ? ::GetParent(hwnd) : nullptr;
}
}  // namespace

void CDialog::UseMessageFilter(bool use)
{
    if (use == m_bFiltering) return;
    m_bFiltering = use;
    if (use && t_nFilterUsers++ == 0)
        t_hFilterHook = ::SetWindowsHookExW(WH_GETMESSAGE, &CDialog::GetMessageHook, nullptr, ::GetCurrentThreadId());
    if (!use && --t_nFilterUsers == 0 && t_hFilterHook) {
        ::UnhookWindowsHookEx(t_hFilterHook);
        t_hFilterHook = nullptr;
    }
}

CDialog::CDialog(UINT templateId, HWND parent) : m_nTemplateId(templateId), m_hParent(parent) {}

CDialog::~CDialog()
{
    if (m_hWnd && ::IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
    UseMessageFilter(false);
}

HINSTANCE CDialog::Instance() const { return ResourceModule(); }

INT_PTR CDialog::DoModal()
{
    UseMessageFilter(true);
    const INT_PTR result = ::DialogBoxParamW(Instance(), MAKEINTRESOURCEW(m_nTemplateId), m_hParent,
                                             &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    UseMessageFilter(false);
    return result;
}

bool CDialog::Create(HWND owner)
{
    UseMessageFilter(true);
    return ::CreateDialogParamW(Instance(), MAKEINTRESOURCEW(m_nTemplateId), owner, &CDialog::DialogProc,
                                reinterpret_cast<LPARAM>(this)) != nullptr;
}

void CDialog::EndDialog(INT_PTR result)
{
    if (m_hWnd) ::EndDialog(m_hWnd, result);
}

CDialog* CDialog::FromHandle(HWND hwnd)
{
    return hwnd ? static_cast<CDialog*>(::GetPropW(hwnd, kDialogProperty)) : nullptr;
}

void CDialog::OnControlEvent(int, DISPID, DISPPARAMS&) {}

INT_PTR CDialog::OnMessage(UINT, WPARAM, LPARAM, bool& handled)
{
    handled = false;
    return 0;
}

INT_PTR CDialog::SetMessageResult(LRESULT result)
{
    ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}

LRESULT CALLBACK CDialog::GetMessageHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && wParam == PM_REMOVE) {
        MSG& msg = *reinterpret_cast<MSG*>(lParam);
        // A control on a dialog sees its keys first, as in any control container.
        if (COleControlSite::TranslateControlKey(msg)) {
            msg.message = WM_NULL;
            return ::CallNextHookEx(t_hFilterHook, code, wParam, lParam);
        }
        // Innermost dialog first, as the message's window sits inside the others.
        for (HWND hwnd = msg.hwnd; hwnd; hwnd = EnclosingWindow(hwnd)) {
            CDialog* dialog = FromHandle(hwnd);
            if (dialog && dialog->PreTranslateMessage(msg)) {
                msg.message = WM_NULL;  // whichever loop retrieved it now dispatches nothing
                break;
            }
        }
    }
    return ::CallNextHookEx(t_hFilterHook, code, wParam, lParam);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    CDialog* self = nullptr;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        ::SetPropW(hwnd, kDialogProperty, self);
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
        ::RemovePropW(hwnd, kDialogProperty);
        self->m_hWnd = nullptr;
        break;
    default:
        break;
    }
    return FALSE;
}

}  // namespace fw
