#include "fw/ole_control_site.h"

#include "fw/dialog.h"

namespace fw {

namespace {
COccManager g_defaultManager;
COccManager* g_pManager = &g_defaultManager;
}  // namespace

COleControlSite* COccManager::CreateSite(HWND container) { return new COleControlSite(container); }

void EnableControlContainer(COccManager* manager) { g_pManager = manager ? manager : &g_defaultManager; }

COccManager& ControlContainerManager() { return *g_pManager; }

COleControlSite::COleControlSite(HWND container) : m_hContainer(container) { m_xEventSink.m_pOuter = this; }

COleControlSite::~COleControlSite() { DestroyControl(); }

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
    if (m_pEvents) {
        m_pEvents->Unadvise(m_dwCookie);
        m_pEvents.reset();
    }
    if (m_pObject) {
        ComPtr<IOleInPlaceObject> inPlace;
        if (SUCCEEDED(m_pObject->QueryInterface(IID_IOleInPlaceObject, inPlace.put_void())))
            inPlace->InPlaceDeactivate();
        m_pObject->Close(OLECLOSE_NOSAVE);
        m_pObject->SetClientSite(nullptr);
    }
    m_pDispatch.reset();
    m_pObject.reset();
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
        else if (IsEqualIID(riid, IID_IOleInPlaceUIWindow) || IsEqualIID(riid, IID_IOleInPlaceFrame))
            *ppv = static_cast<IOleInPlaceFrame*>(this);
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
        *frame = this;
        AddRef();
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

STDMETHODIMP_(ULONG) COleControlSite::XEventSink::AddRef() { return Outer()->AddRef(); }

STDMETHODIMP_(ULONG) COleControlSite::XEventSink::Release() { return Outer()->Release(); }

STDMETHODIMP COleControlSite::XEventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                                 EXCEPINFO*, UINT*)
{
    COleControlSite* site = Outer();
    if (CDialog* dialog = CDialog::FromHandle(site->m_hContainer))
        if (params) dialog->OnControlEvent(site->m_nId, id, *params);
    return S_OK;
}

}  // namespace fw
