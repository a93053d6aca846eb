#include "browser/custom_control_site.h"

#include "browser/script_bridge_ends.h"
#include "core/browser/accelerator_rule.h"

const IID kIID_IDocHostShowUI = {0xc4d244b0, 0xd43e, 0x11cf, {0x89, 0x3b, 0x00, 0xaa, 0x00, 0xbd, 0xce, 0x1a}};

namespace {

bool IsDown(int key) { return (::GetAsyncKeyState(key) & 0x8000) != 0; }

}  // namespace

CCustomControlSite::CCustomControlSite(HWND container) : fw::COleControlSite(container)
{
    m_xDocHostUIHandler.m_pOuter = this;
    m_xDocHostShowUI.m_pOuter = this;
}

void* CCustomControlSite::QueryExtraInterface(REFIID riid)
{
    if (IsEqualIID(riid, kIID_IDocHostShowUI)) return static_cast<IDocHostShowUI*>(&m_xDocHostShowUI);
    if (IsEqualIID(riid, IID_IDocHostUIHandler)) return static_cast<IDocHostUIHandler*>(&m_xDocHostUIHandler);
    return nullptr;
}

STDMETHODIMP CCustomControlSite::XDocHostUIHandler::ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*)
{
    return S_OK;  // handled: the page has no context menu
}

STDMETHODIMP CCustomControlSite::XDocHostUIHandler::GetHostInfo(DOCHOSTUIINFO* info)
{
    if (!info) return E_POINTER;
    info->dwFlags = DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_SCROLL_NO;
    info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
    return S_OK;
}

STDMETHODIMP CCustomControlSite::XDocHostUIHandler::ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*,
                                                           IOleInPlaceFrame*, IOleInPlaceUIWindow*)
{
    return S_OK;  // the host owns the user interface: no menus or tool bars of the browser's
}

STDMETHODIMP CCustomControlSite::XDocHostUIHandler::HideUI() { return S_OK; }

STDMETHODIMP CCustomControlSite::XDocHostUIHandler::UpdateUI() { return S_OK; }

STDMETHODIMP CCustomControlSite::XDocHostUIHandler::EnableModeless(BOOL) { return E_NOTIMPL; }

STDMETHODIMP CCustomControlSite::XDocHostUIHandler::OnDocWindowActivate(BOOL) { return E_NOTIMPL; }

STDMETHODIMP CCustomControlSite::XDocHostUIHandler::OnFrameWindowActivate(BOOL) { return E_NOTIMPL; }

STDMETHODIMP CCustomControlSite::XDocHostUIHandler::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL)
{
    return E_NOTIMPL;
}

STDMETHODIMP CCustomControlSite::XDocHostUIHandler::TranslateAccelerator(LPMSG msg, const GUID*, DWORD)
{
    if (!msg) return S_FALSE;
    core::AcceleratorKeys keys;
    keys.keyDown = msg->message == WM_KEYDOWN;
    keys.f5 = IsDown(VK_F5);
    // Ctrl as it was when the message was sent; the letters as they are now.
    keys.ctrl = (::GetKeyState(VK_CONTROL) & 0x8000) != 0;
    keys.o = IsDown('O');
    keys.p = IsDown('P');
    keys.n = IsDown('N');
    return core::IsBlockedAccelerator(keys) ? S_OK : S_FALSE;
}

STDMETHODIMP CCustomControlSite::XDocHostUIHandler::GetOptionKeyPath(LPOLESTR*, DWORD) { return E_NOTIMPL; }

STDMETHODIMP CCustomControlSite::XDocHostUIHandler::GetDropTarget(IDropTarget*, IDropTarget**) { return E_NOTIMPL; }

STDMETHODIMP CCustomControlSite::XDocHostUIHandler::GetExternal(IDispatch** external)
{
    if (!external) return E_POINTER;
    *external = ApplicationPageExternal();
    if (*external) (*external)->AddRef();
    return S_OK;
}

STDMETHODIMP CCustomControlSite::XDocHostUIHandler::TranslateUrl(DWORD, LPWSTR, LPWSTR*) { return E_NOTIMPL; }

STDMETHODIMP CCustomControlSite::XDocHostUIHandler::FilterDataObject(IDataObject*, IDataObject**) { return E_NOTIMPL; }

STDMETHODIMP CCustomControlSite::XDocHostShowUI::ShowMessage(HWND hwnd, LPOLESTR text, LPOLESTR, DWORD, LPOLESTR, DWORD,
                                                             LRESULT*)
{
    // The page's own caption and buttons give way to the launcher's: one OK box.
    ::MessageBoxW(hwnd, text ? text : L"", L"提示", MB_OK | MB_ICONERROR);
    return S_OK;
}

STDMETHODIMP CCustomControlSite::XDocHostShowUI::ShowHelp(HWND, LPOLESTR, UINT, DWORD, POINT, IDispatch*)
{
    return S_OK;
}
