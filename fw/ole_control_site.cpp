#include "fw/ole_control_site.h"

#include <algorithm>
#include <vector>

#include "fw/dialog.h"

namespace fw {

namespace {
COccManager g_defaultManager;
COccManager* g_pManager = &g_defaultManager;
const wchar_t kSiteProperty[] = L"fw.COleControlSite";

// The sites with a control: the message loops' keys are offered to them. Controls live on
// the window thread, the only one that touches this list (a key message belongs to a window
// of the thread that retrieves it, so a site of another thread never matches).
std::vector<COleControlSite*>& Sites()
{
    static std::vector<COleControlSite*> sites;
    return sites;
}

bool IsKeyboardMessage(UINT msg) { return msg >= WM_KEYFIRST && msg <= WM_KEYLAST; }
}  // namespace

COleControlSite* COccManager::CreateSite(HWND container) { return new COleControlSite(container); }

void EnableControlContainer(COccManager* manager) { g_pManager = manager ? manager : &g_defaultManager; }

COccManager& ControlContainerManager() { return *g_pManager; }

COleControlSite::COleControlSite(HWND container) : m_hContainer(container) {}

ULONG COleControlSite::XPart::AddPartRef()
{
    if (m_cRef == 0) m_outer.AddRef();
    return ++m_cRef;
}

ULONG COleControlSite::XPart::ReleasePartRef()
{
    const ULONG count = --m_cRef;
    if (count == 0) m_outer.Release();  // may delete the site, and this part with it
    return count;
}

COleControlSite::~COleControlSite()
{
    DestroyControl();
    UnhookPlace();
}

RECT COleControlSite::PlaceRect() const
{
    RECT rect{};
    if (m_hPlace) ::GetClientRect(m_hPlace, &rect);
    return rect;
}

bool COleControlSite::CreateControl(REFCLSID clsid, int id, REFIID events)
{
    m_nId = id;
    m_hPlace = ::GetDlgItem(m_hContainer, id);
    if (!m_hPlace) return false;
    HookPlace();
    Sites().push_back(this);
    if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, m_pObject.put_void())))
        return false;
    m_pObject->SetClientSite(this);
    {
        ComPtr<IPersistStreamInit> persist;
        if (SUCCEEDED(m_pObject->QueryInterface(IID_IPersistStreamInit, persist.put_void()))) persist->InitNew();
    }
    m_pObject->QueryInterface(IID_IDispatch, m_pDispatch.put_void());

    ComPtr<IConnectionPointContainer> points;
    if (SUCCEEDED(m_pObject->QueryInterface(IID_IConnectionPointContainer, points.put_void())) &&
        SUCCEEDED(points->FindConnectionPoint(events, m_pEvents.put()))) {
        m_xEventSink.m_iid = events;
        if (FAILED(m_pEvents->Advise(&m_xEventSink, &m_dwCookie))) m_pEvents.reset();
    }

    RECT rect = PlaceRect();
    return SUCCEEDED(m_pObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, this, 0, m_hPlace, &rect));
}

void COleControlSite::UpdatePlace()
{
    ComPtr<IOleInPlaceObject> inPlace;
    if (!m_pObject || FAILED(m_pObject->QueryInterface(IID_IOleInPlaceObject, inPlace.put_void()))) return;
    const RECT rect = PlaceRect();
    inPlace->SetObjectRects(&rect, &rect);
}

void COleControlSite::DestroyControl()
{
    Sites().erase(std::remove(Sites().begin(), Sites().end(), this), Sites().end());
    if (m_pEvents) {
        m_pEvents->Unadvise(m_dwCookie);
        m_pEvents.reset();
    }
    if (m_pObject) {
        // The order a control expects: out of its user interface, out of its place, closed,
        // without a site, released, all while its window and the dialog still exist.
        ComPtr<IOleInPlaceObject> inPlace;
        if (SUCCEEDED(m_pObject->QueryInterface(IID_IOleInPlaceObject, inPlace.put_void()))) {
            inPlace->UIDeactivate();
            inPlace->InPlaceDeactivate();
        }
        m_pObject->Close(OLECLOSE_NOSAVE);
        m_pObject->SetClientSite(nullptr);
    }
    m_pActiveObject.reset();
    m_pDispatch.reset();
    m_pObject.reset();
}

void COleControlSite::HookPlace()
{
    if (m_pfnPlaceProc || !m_hPlace) return;
    ::SetPropW(m_hPlace, kSiteProperty, this);
    m_pfnPlaceProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(m_hPlace, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&COleControlSite::PlaceProc)));
}

void COleControlSite::UnhookPlace()
{
    if (!m_pfnPlaceProc) return;
    if (::IsWindow(m_hPlace)) {
        if (::GetWindowLongPtrW(m_hPlace, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&COleControlSite::PlaceProc))
            ::SetWindowLongPtrW(m_hPlace, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnPlaceProc));
        ::RemovePropW(m_hPlace, kSiteProperty);
    }
    m_pfnPlaceProc = nullptr;
}

LRESULT CALLBACK COleControlSite::PlaceProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto* site = static_cast<COleControlSite*>(::GetPropW(hwnd, kSiteProperty));
    if (!site) return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    const WNDPROC original = site->m_pfnPlaceProc;
    if (msg == WM_DESTROY) {
        // The dialog is going: the control is taken down while its window is still there.
        site->AddRef();
        site->DestroyControl();
        site->UnhookPlace();
        site->Release();
    }
    return ::CallWindowProcW(original, hwnd, msg, wParam, lParam);
}

bool COleControlSite::IsControl(IUnknown* object) const
{
    if (!object || !m_pObject) return false;
    ComPtr<IUnknown> mine, theirs;
    if (FAILED(m_pObject->QueryInterface(IID_IUnknown, mine.put_void())) ||
        FAILED(object->QueryInterface(IID_IUnknown, theirs.put_void())))
        return false;
    return mine.get() == theirs.get();
}

HRESULT COleControlSite::SetActiveObject(IOleInPlaceActiveObject* active, LPCOLESTR)
{
    m_pActiveObject.reset();
    if (active) {
        active->AddRef();
        *m_pActiveObject.put() = active;
    }
    return S_OK;
}

bool COleControlSite::TranslateControlKey(MSG& msg)
{
    if (!IsKeyboardMessage(msg.message) || !msg.hwnd) return false;
    for (COleControlSite* site : Sites()) {
        if (!site->m_pActiveObject || !site->m_hPlace) continue;
        if (msg.hwnd != site->m_hPlace && !::IsChild(site->m_hPlace, msg.hwnd)) continue;
        // The control may hand over another object, or none, while it handles the key.
        site->AddRef();
        IOleInPlaceActiveObject* active = site->m_pActiveObject.get();
        active->AddRef();
        const bool taken = active->TranslateAccelerator(&msg) == S_OK;
        active->Release();
        site->Release();
        return taken;
    }
    return false;
}

STDMETHODIMP COleControlSite::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = QueryExtraInterface(riid);
    if (!*ppv) {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite))
            *ppv = static_cast<IOleClientSite*>(this);
        else if (IsEqualIID(riid, IID_IOleWindow) || IsEqualIID(riid, IID_IOleInPlaceSite))
            *ppv = static_cast<IOleInPlaceSite*>(this);
        else if (IsEqualIID(riid, IID_IOleControlSite))
            *ppv = static_cast<IOleControlSite*>(this);
    }
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) COleControlSite::AddRef() { return ++m_cRef; }

STDMETHODIMP_(ULONG) COleControlSite::Release()
{
    const ULONG count = --m_cRef;
    if (count == 0) delete this;
    return count;
}

STDMETHODIMP COleControlSite::GetContainer(IOleContainer** container)
{
    if (container) *container = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP COleControlSite::GetWindow(HWND* hwnd)
{
    if (!hwnd) return E_POINTER;
    *hwnd = m_hPlace ? m_hPlace : m_hContainer;
    return S_OK;
}

STDMETHODIMP COleControlSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos,
                                               LPRECT clip, LPOLEINPLACEFRAMEINFO info)
{
    if (frame) {
        *frame = &m_xFrame;
        m_xFrame.AddRef();
    }
    if (doc) *doc = nullptr;
    const RECT rect = PlaceRect();
    if (pos) *pos = rect;
    if (clip) *clip = rect;
    if (info) {
        info->fMDIApp = FALSE;
        info->hwndFrame = m_hContainer;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
    }
    return S_OK;
}

STDMETHODIMP COleControlSite::GetExtendedControl(IDispatch** disp)
{
    if (disp) *disp = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP COleControlSite::XFrame::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IOleWindow) &&
        !IsEqualIID(riid, IID_IOleInPlaceUIWindow) && !IsEqualIID(riid, IID_IOleInPlaceFrame))
        return E_NOINTERFACE;
    *ppv = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP COleControlSite::XFrame::GetWindow(HWND* hwnd)
{
    if (!hwnd) return E_POINTER;
    *hwnd = Outer().m_hContainer;
    return S_OK;
}

STDMETHODIMP COleControlSite::XEventSink::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) && !IsEqualIID(riid, m_iid))
        return E_NOINTERFACE;
    *ppv = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP COleControlSite::XEventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                                 EXCEPINFO*, UINT*)
{
    COleControlSite* site = &Outer();
    if (CDialog* dialog = CDialog::FromHandle(site->m_hContainer))
        if (params) dialog->OnControlEvent(site->m_nId, id, *params);
    return S_OK;
}

}  // namespace fw
