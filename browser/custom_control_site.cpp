#include "browser/custom_control_site.h"

#include "browser/script_bridge_ends.h"
#include "core/browser/accelerator_rule.h"
#include "diag/file_log.h"
#include "fw/com_ptr.h"

const IID kIID_IDocHostShowUI = {0xc4d244b0, 0xd43e, 0x11cf, {0x89, 0x3b, 0x00, 0xaa, 0x00, 0xbd, 0xce, 0x1a}};
const GUID kCGID_DocHostCommandHandler = {0xf38bc242, 0xb950, 0x11d1, {0x89, 0x18, 0x00, 0xc0, 0x4f, 0xc2, 0xc8, 0x36}};

namespace {

bool IsDown(int key) { return (::GetAsyncKeyState(key) & 0x8000) != 0; }

// A named property of a script object, read late-bound as a script would; empty when the
// object has no such property.
void ReadProperty(IDispatch* object, const wchar_t* name, fw::Variant& value)
{
    value.put();
    if (!object) return;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value.put(), nullptr, nullptr);
}

fw::ComPtr<IDispatch> DispatchOf(const VARIANT& value)
{
    fw::ComPtr<IDispatch> object;
    IUnknown* unknown = nullptr;
    if (V_VT(&value) == VT_DISPATCH || V_VT(&value) == VT_UNKNOWN) unknown = V_UNKNOWN(&value);
    if (unknown) unknown->QueryInterface(IID_IDispatch, object.put_void());
    return object;
}

std::wstring TextOf(const VARIANT& value)
{
    fw::Variant text;
    if (FAILED(::VariantChangeType(text.put(), const_cast<VARIANT*>(&value), 0, VT_BSTR)) || !V_BSTR(&text.get()))
        return L"";
    return std::wstring(V_BSTR(&text.get()), ::SysStringLen(V_BSTR(&text.get())));
}

// The browser hands over the page's document; the error is on its window's current event.
std::wstring ScriptErrorText(const VARIANT* document)
{
    std::wstring message = L"(no description)", line = L"?", url = L"(unknown)";
    if (document) {
        fw::Variant window, event;
        ReadProperty(DispatchOf(*document).get(), L"parentWindow", window);
        ReadProperty(DispatchOf(window.get()).get(), L"event", event);
        fw::ComPtr<IDispatch> details = DispatchOf(event.get());
        fw::Variant value;
        ReadProperty(details.get(), L"errorMessage", value);
        if (!TextOf(value.get()).empty()) message = TextOf(value.get());
        ReadProperty(details.get(), L"errorLine", value);
        if (!TextOf(value.get()).empty()) line = TextOf(value.get());
        ReadProperty(details.get(), L"errorUrl", value);
        if (!TextOf(value.get()).empty()) url = TextOf(value.get());
    }
    return L"script error: " + message + L", line " + line + L", " + url;
}

}  // namespace

CCustomControlSite::CCustomControlSite(HWND container) : fw::COleControlSite(container)
{
    m_xDocHostUIHandler.m_pOuter = this;
    m_xDocHostShowUI.m_pOuter = this;
    m_xOleCommandTarget.m_pOuter = this;
}

void* CCustomControlSite::QueryExtraInterface(REFIID riid)
{
    if (IsEqualIID(riid, kIID_IDocHostShowUI)) return static_cast<IDocHostShowUI*>(&m_xDocHostShowUI);
    if (IsEqualIID(riid, IID_IDocHostUIHandler)) return static_cast<IDocHostUIHandler*>(&m_xDocHostUIHandler);
    if (IsEqualIID(riid, IID_IOleCommandTarget)) return static_cast<IOleCommandTarget*>(&m_xOleCommandTarget);
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
                                                             LRESULT* result)
{
    // The page's own caption and buttons give way to the launcher's: one OK box, and a
    // question (confirm) gets the answer of its only button.
    ::MessageBoxW(hwnd, text ? text : L"", L"提示", MB_OK | MB_ICONERROR);
    if (result) *result = IDOK;
    return S_OK;
}

STDMETHODIMP CCustomControlSite::XDocHostShowUI::ShowHelp(HWND, LPOLESTR, UINT, DWORD, POINT, IDispatch*)
{
    return S_OK;
}

namespace {

// The standard group (null) and the document host's are known, without a command of ours
// but the script error; any other group is unknown.
bool IsKnownGroup(const GUID* group) { return !group || IsEqualGUID(*group, kCGID_DocHostCommandHandler); }

}  // namespace

STDMETHODIMP CCustomControlSite::XOleCommandTarget::QueryStatus(const GUID* group, ULONG, OLECMD*, OLECMDTEXT*)
{
    return IsKnownGroup(group) ? OLECMDERR_E_NOTSUPPORTED : OLECMDERR_E_UNKNOWNGROUP;
}

STDMETHODIMP CCustomControlSite::XOleCommandTarget::Exec(const GUID* group, DWORD id, DWORD, VARIANT* in, VARIANT* out)
{
    if (!IsKnownGroup(group)) return OLECMDERR_E_UNKNOWNGROUP;
    if (!group || id != OLECMDID_SHOWSCRIPTERROR) return OLECMDERR_E_NOTSUPPORTED;
    LOG_ERROR("CCustomControlSite::ShowScriptError", ScriptErrorText(in));
    // Handled: no box, and the page's scripts keep running.
    if (out) {
        ::VariantClear(out);
        V_VT(out) = VT_BOOL;
        V_BOOL(out) = VARIANT_TRUE;
    }
    return S_OK;
}
