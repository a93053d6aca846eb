#include "tools/standin_browser/standin_control.h"

#include <exdisp.h>
#include <memory>
#include <utility>
#include <exdispid.h>
#include <olectl.h>

#include "tools/standin_browser/script_objects.h"
#include "tools/standin_browser/standin_log.h"

extern HINSTANCE g_standinModule;

namespace standin {

namespace {

const IID kIID_IDocHostShowUI = {0xc4d244b0, 0xd43e, 0x11cf, {0x89, 0x3b, 0x00, 0xaa, 0x00, 0xbd, 0xce, 0x1a}};
const GUID kCGID_DocHostCommandHandler = {0xf38bc242, 0xb950, 0x11d1, {0x89, 0x18, 0x00, 0xc0, 0x4f, 0xc2, 0xc8, 0x36}};
const wchar_t kWindowClass[] = L"StandinBrowserWindow";
const UINT kNavigateMessage = WM_APP + 1;
// A lazily loaded frame arrived: lParam is a LateFrame the message's handler takes.
const UINT kLateFrameMessage = WM_APP + 2;
const int kFirstFieldId = 1;
WNDPROC g_editProc = nullptr;

ATOM RegisterWindowClass()
{
    static ATOM atom = 0;
    if (!atom) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = &DefWindowProcW;
        wc.hInstance = g_standinModule;
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.lpszClassName = kWindowClass;
        atom = RegisterClassW(&wc);
    }
    return atom;
}

std::wstring Hex(unsigned long value)
{
    wchar_t text[16];
    swprintf(text, 16, L"0x%lx", value);
    return text;
}

std::wstring Hex(const void* value) { return Hex(static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(value))); }

struct LateFrame {
    std::wstring url;
    bool fetched = false;
};

struct LateFrameFetch {
    HWND window;  // the control's, which completes the frame
    std::wstring url;
};

DWORD WINAPI FetchLateFrame(LPVOID param)
{
    const std::unique_ptr<LateFrameFetch> job(static_cast<LateFrameFetch*>(param));
    auto* frame = new LateFrame{job->url, FetchPage(job->url).fetched};
    if (!PostMessageW(job->window, kLateFrameMessage, 0, reinterpret_cast<LPARAM>(frame))) delete frame;
    return 0;
}

// Gives up the closed control when the thread's apartment ends (its last uninitialisation).
class ApartmentEndRelease : public IInitializeSpy {
public:
    explicit ApartmentEndRelease(IUnknown* held) : m_pHeld(held) { m_pHeld->AddRef(); }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IInitializeSpy)) return E_NOINTERFACE;
        *ppv = static_cast<IInitializeSpy*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG count = --m_cRef;
        if (count == 0) {
            Let();
            delete this;
        }
        return count;
    }
    STDMETHODIMP PreInitialize(DWORD, DWORD) override { return S_OK; }
    STDMETHODIMP PostInitialize(HRESULT result, DWORD, DWORD) override { return result; }
    STDMETHODIMP PreUninitialize(DWORD apartmentRefs) override
    {
        if (apartmentRefs == 1 && m_pHeld) {
            Log(L"the apartment ends: the closed control's last reference goes");
            Let();
        }
        return S_OK;
    }
    STDMETHODIMP PostUninitialize(DWORD) override { return S_OK; }

private:
    virtual ~ApartmentEndRelease() = default;
    void Let()
    {
        if (m_pHeld) std::exchange(m_pHeld, nullptr)->Release();
    }
    ULONG m_cRef = 1;
    IUnknown* m_pHeld;
};

}  // namespace

StandinControl::StandinControl() : m_ownThread(GetCurrentThreadId()) { m_eventPoint.m_pOuter = this; }

bool StandinControl::OnOwnThread(const wchar_t* method) const
{
    if (GetCurrentThreadId() == m_ownThread) return true;
    Log(std::wstring(method) + L" called from another thread: refused (RPC_E_WRONG_THREAD)");
    return false;
}

StandinControl::~StandinControl()
{
    StopTimers();
    EndPage();
    // The page's external object is the host's: it learns here, at the control's final
    // release, that the browser let go of it.
    if (IDispatch* external = m_pExternal.get()) {
        external->AddRef();
        m_pExternal.reset();
        const ULONG left = external->Release();
        Log(L"final release: the page's external object released, " + std::to_wstring(left) + L" reference(s) left");
    }
}

STDMETHODIMP StandinControl::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleObject))
        *ppv = static_cast<IOleObject*>(this);
    else if (IsEqualIID(riid, IID_IOleWindow) || IsEqualIID(riid, IID_IOleInPlaceObject))
        *ppv = static_cast<IOleInPlaceObject*>(this);
    else if (IsEqualIID(riid, IID_IOleInPlaceActiveObject))
        *ppv = static_cast<IOleInPlaceActiveObject*>(this);
    else if (IsEqualIID(riid, IID_IDispatch))
        *ppv = static_cast<IDispatch*>(this);
    else if (IsEqualIID(riid, IID_IConnectionPointContainer))
        *ppv = static_cast<IConnectionPointContainer*>(this);
    else if (IsEqualIID(riid, IID_IPersist) || IsEqualIID(riid, IID_IPersistStreamInit))
        *ppv = static_cast<IPersistStreamInit*>(this);
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) StandinControl::Release()
{
    const ULONG count = --m_cRef;
    if (count == 0) delete this;
    return count;
}

fw::ComPtr<IDocHostUIHandler> StandinControl::UiHandler()
{
    fw::ComPtr<IDocHostUIHandler> handler;
    if (m_pSite) m_pSite->QueryInterface(IID_IDocHostUIHandler, handler.put_void());
    return handler;
}

STDMETHODIMP StandinControl::SetClientSite(IOleClientSite* site)
{
    if (!OnOwnThread(L"SetClientSite")) return RPC_E_WRONG_THREAD;
    m_pSite.reset();
    if (site) {
        site->AddRef();
        *m_pSite.put() = site;
    }
    return S_OK;
}

STDMETHODIMP StandinControl::GetClientSite(IOleClientSite** site)
{
    if (!OnOwnThread(L"GetClientSite")) return RPC_E_WRONG_THREAD;
    if (!site) return E_POINTER;
    *site = m_pSite.get();
    if (*site) (*site)->AddRef();
    return S_OK;
}

STDMETHODIMP StandinControl::Close(DWORD)
{
    if (!OnOwnThread(L"Close")) return RPC_E_WRONG_THREAD;
    Deactivate();
    // The page unloads now, still with its external object: a host that went away before
    // closing its control, or freed that object first, is caught here.
    const bool hostWindow = m_hPlace && IsWindow(m_hPlace);
    const bool unload = m_pScript && m_pScript->CallGlobal(L"onunload");
    Log(std::wstring(L"closed: the host's window ") + (hostWindow ? L"still there" : L"already gone") +
        (unload ? L", the page's onunload ran" : L""));
    // The script engine goes, but the external object it was given is kept until the
    // control's final release.
    EndPage();
    if (!m_bClosed) HoldUntilTheApartmentEnds();
    m_bClosed = true;
    return S_OK;
}

void StandinControl::HoldUntilTheApartmentEnds()
{
    auto* release = new ApartmentEndRelease(static_cast<IOleObject*>(this));
    ULARGE_INTEGER cookie{};
    if (FAILED(CoRegisterInitializeSpy(release, &cookie))) Log(L"closed: no apartment to outlive");
    release->Release();
}

STDMETHODIMP StandinControl::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT rect)
{
    if (!OnOwnThread(L"DoVerb")) return RPC_E_WRONG_THREAD;
    if (m_hWnd) return S_OK;
    fw::ComPtr<IOleInPlaceSite> inPlace;
    IOleClientSite* from = site ? site : m_pSite.get();
    if (!from || FAILED(from->QueryInterface(IID_IOleInPlaceSite, inPlace.put_void()))) return E_UNEXPECTED;
    if (inPlace->CanInPlaceActivate() != S_OK) return E_FAIL;
    inPlace->OnInPlaceActivate();
    fw::ComPtr<IOleInPlaceFrame> frame;
    fw::ComPtr<IOleInPlaceUIWindow> document;
    RECT pos = rect ? *rect : RECT{};
    RECT clip = pos;
    OLEINPLACEFRAMEINFO info{};
    info.cb = sizeof info;
    inPlace->GetWindowContext(frame.put(), document.put(), &pos, &clip, &info);
    // The frame is the object of the window the context names, not the site.
    HWND frameWindow = nullptr;
    if (frame) frame->GetWindow(&frameWindow);
    Log(frameWindow && frameWindow == info.hwndFrame
            ? std::wstring(L"frame window: the one the window context names")
            : L"frame window " + Hex(frameWindow) + L" is not the one the window context names, " +
                  Hex(info.hwndFrame));
    m_pFrame = std::move(frame);
    HWND owner = parent;
    if (!owner) inPlace->GetWindow(&owner);
    m_hPlace = owner;
    RegisterWindowClass();
    m_hWnd = CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, pos.left, pos.top,
                             pos.right - pos.left, pos.bottom - pos.top, owner, nullptr, g_standinModule, nullptr);
    if (!m_hWnd) return E_FAIL;
    SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&StandinControl::WndProc));
    Log(L"activated (verb " + std::to_wstring(verb) + L")");
    return S_OK;
}

STDMETHODIMP StandinControl::GetUserClassID(CLSID* clsid)
{
    if (!OnOwnThread(L"GetUserClassID")) return RPC_E_WRONG_THREAD;
    if (!clsid) return E_POINTER;
    *clsid = CLSID_WebBrowser;
    return S_OK;
}

STDMETHODIMP StandinControl::GetMiscStatus(DWORD, DWORD* status)
{
    if (!OnOwnThread(L"GetMiscStatus")) return RPC_E_WRONG_THREAD;
    if (status) *status = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_INSIDEOUT | OLEMISC_ACTIVATEWHENVISIBLE;
    return S_OK;
}

STDMETHODIMP StandinControl::GetWindow(HWND* hwnd)
{
    if (!OnOwnThread(L"GetWindow")) return RPC_E_WRONG_THREAD;
    if (!hwnd) return E_POINTER;
    *hwnd = m_hWnd;
    return m_hWnd ? S_OK : E_FAIL;
}

STDMETHODIMP StandinControl::InPlaceDeactivate()
{
    if (!OnOwnThread(L"InPlaceDeactivate")) return RPC_E_WRONG_THREAD;
    // A container takes the control out of its user interface first, then out of its place.
    Log(std::wstring(L"InPlaceDeactivate by the host") +
        (m_bUIActive ? L", still UI active: no UIDeactivate came first" : L""));
    Deactivate();
    return S_OK;
}

void StandinControl::Deactivate()
{
    LeaveUI();
    StopTimers();
    if (m_hWnd) {
        for (Field& field : m_fields) SetWindowLongPtrW(field.hwnd, GWLP_USERDATA, 0);
        m_fields.clear();
        SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
        DestroyWindow(m_hWnd);
        m_hWnd = nullptr;
        fw::ComPtr<IOleInPlaceSite> inPlace;
        if (m_pSite && SUCCEEDED(m_pSite->QueryInterface(IID_IOleInPlaceSite, inPlace.put_void())))
            inPlace->OnInPlaceDeactivate();
    }
    m_pFrame.reset();
}

void StandinControl::UIActivate()
{
    if (m_bUIActive || !m_hWnd) return;
    m_bUIActive = true;
    fw::ComPtr<IOleInPlaceSite> inPlace;
    if (m_pSite && SUCCEEDED(m_pSite->QueryInterface(IID_IOleInPlaceSite, inPlace.put_void())))
        inPlace->OnUIActivate();
    if (m_pFrame) m_pFrame->SetActiveObject(static_cast<IOleInPlaceActiveObject*>(this), L"");
    Log(L"UI activated: the active object handed to the host");
}

STDMETHODIMP StandinControl::UIDeactivate()
{
    if (!OnOwnThread(L"UIDeactivate")) return RPC_E_WRONG_THREAD;
    Log(L"UIDeactivate by the host");
    LeaveUI();
    return S_OK;
}

void StandinControl::LeaveUI()
{
    if (!m_bUIActive) return;
    m_bUIActive = false;
    if (m_pFrame) m_pFrame->SetActiveObject(nullptr, nullptr);
    fw::ComPtr<IOleInPlaceSite> inPlace;
    if (m_pSite && SUCCEEDED(m_pSite->QueryInterface(IID_IOleInPlaceSite, inPlace.put_void())))
        inPlace->OnUIDeactivate(FALSE);
}

STDMETHODIMP StandinControl::TranslateAccelerator(LPMSG msg)
{
    if (!OnOwnThread(L"TranslateAccelerator")) return RPC_E_WRONG_THREAD;
    if (!msg || msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST) return S_FALSE;
    // Whatever the host takes never reaches the page nor the browser.
    if (auto handler = UiHandler()) {
        if (handler->TranslateAccelerator(msg, nullptr, 0) == S_OK) {
            if (msg->message == WM_KEYDOWN) Log(L"key " + Hex(static_cast<unsigned long>(msg->wParam)) + L" blocked");
            return S_OK;
        }
    }
    if (BrowserKey(*msg)) return S_OK;
    if (msg->message == WM_KEYDOWN) Log(L"key " + Hex(static_cast<unsigned long>(msg->wParam)) + L" passed");
    return S_FALSE;
}

bool StandinControl::BrowserKey(const MSG& msg)
{
    if (msg.message != WM_KEYDOWN) return false;
    const bool ctrl = (GetKeyState(VK_CONTROL) & 0x8000) != 0;
    const std::wstring key = L"key " + Hex(static_cast<unsigned long>(msg.wParam));
    if (msg.wParam == VK_TAB && !m_fields.empty()) {
        MoveFocusBetweenFields((GetKeyState(VK_SHIFT) & 0x8000) != 0);
        return true;
    }
    if (msg.wParam == VK_F5) {
        Log(key + L": the browser refreshes the page");
        return true;
    }
    if (!ctrl) return false;
    switch (msg.wParam) {
    case 'V':
        for (const Field& field : m_fields)
            if (field.hwnd == GetFocus()) PasteInto(field.hwnd);
        return true;
    case 'N':
        Log(key + L": the browser opens a new window");
        return true;
    case 'O':
        Log(key + L": the browser asks for an address to open");
        return true;
    case 'P':
        Log(key + L": the browser prints the page");
        return true;
    default:
        return false;
    }
}

void StandinControl::MoveFocusBetweenFields(bool back)
{
    const size_t count = m_fields.size();
    size_t next = back ? count - 1 : 0;
    for (size_t i = 0; i < count; ++i)
        if (m_fields[i].hwnd == GetFocus()) next = back ? (i + count - 1) % count : (i + 1) % count;
    SetFocus(m_fields[next].hwnd);
    Log(L"key 0x9: focus to field " + m_fields[next].id);
}

void StandinControl::PasteInto(HWND field)
{
    // The browser's clipboard is OLE's, which works only in a thread that initialised OLE.
    fw::ComPtr<IDataObject> data;
    const HRESULT hr = OleGetClipboard(data.put());
    if (FAILED(hr)) {
        Log(L"paste: the OLE clipboard is not available (" + Hex(static_cast<unsigned long>(hr)) + L")");
        return;
    }
    FORMATETC format{CF_UNICODETEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    if (FAILED(data->GetData(&format, &medium))) {
        Log(L"paste: no text on the clipboard");
        return;
    }
    if (const auto* text = static_cast<const wchar_t*>(GlobalLock(medium.hGlobal))) {
        SendMessageW(field, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text));
        Log(L"paste: \"" + std::wstring(text) + L"\" from the OLE clipboard");
        GlobalUnlock(medium.hGlobal);
    }
    ReleaseStgMedium(&medium);
}

void StandinControl::WheelTurned(WPARAM wp)
{
    // With Ctrl the browser zooms the page; otherwise the page scrolls.
    const bool ctrl = (GET_KEYSTATE_WPARAM(wp) & MK_CONTROL) != 0;
    Log(ctrl ? L"wheel with Ctrl: the browser zooms the page" : L"wheel: the page scrolls");
}

void StandinControl::PageKey(WPARAM code)
{
    if (m_pScript) m_pScript->CallGlobal(L"onkeydown", static_cast<long>(code));
}

STDMETHODIMP StandinControl::SetObjectRects(LPCRECT pos, LPCRECT)
{
    if (!OnOwnThread(L"SetObjectRects")) return RPC_E_WRONG_THREAD;
    if (m_hWnd && pos) MoveWindow(m_hWnd, pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top, TRUE);
    return S_OK;
}

STDMETHODIMP StandinControl::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    if (!OnOwnThread(L"GetIDsOfNames")) return RPC_E_WRONG_THREAD;
    if (!names || !ids || count == 0) return E_INVALIDARG;
    ids[0] = DISPID_UNKNOWN;
    if (lstrcmpW(names[0], L"Navigate") == 0) ids[0] = kNavigate;
    if (lstrcmpW(names[0], L"ReadyState") == 0) ids[0] = kReadyState;
    return ids[0] == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK;
}

STDMETHODIMP StandinControl::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                    UINT*)
{
    if (!OnOwnThread(id == kNavigate ? L"Navigate" : L"Invoke")) return RPC_E_WRONG_THREAD;
    if (id == kReadyState) {
        if (result) {
            VariantInit(result);
            V_VT(result) = VT_I4;
            V_I4(result) = m_readyState;
        }
        return S_OK;
    }
    if (id != kNavigate) return DISP_E_MEMBERNOTFOUND;
    if (!params || params->cArgs < 1) return DISP_E_BADPARAMCOUNT;
    // The URL is the first argument: the last element.
    VARIANT url;
    VariantInit(&url);
    if (FAILED(VariantChangeType(&url, &params->rgvarg[params->cArgs - 1], 0, VT_BSTR))) return DISP_E_TYPEMISMATCH;
    m_url = V_BSTR(&url) ? V_BSTR(&url) : L"";
    VariantClear(&url);
    Log(L"Navigate " + m_url + L" (" + std::to_wstring(params->cArgs) + L" argument(s))");
    // Navigating calls out of the apartment, which COM refuses while the thread handles a
    // message another thread sent it.
    if (InSendMessage()) {
        Log(L"Navigate inside a message sent from another thread: refused");
        return RPC_E_CANTCALLOUT_ININPUTSYNCCALL;
    }
    // Like the real control, the navigation happens after the call has returned.
    if (!m_hWnd || !PostMessageW(m_hWnd, kNavigateMessage, 0, 0)) Log(L"Navigate before activation: ignored");
    return S_OK;
}

STDMETHODIMP StandinControl::FindConnectionPoint(REFIID riid, IConnectionPoint** point)
{
    if (!OnOwnThread(L"FindConnectionPoint")) return RPC_E_WRONG_THREAD;
    if (!point) return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(riid, DIID_DWebBrowserEvents2)) return CONNECT_E_NOCONNECTION;
    *point = &m_eventPoint;
    AddRef();
    return S_OK;
}

STDMETHODIMP StandinControl::EventPoint::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IConnectionPoint)) return E_NOINTERFACE;
    *ppv = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP StandinControl::EventPoint::GetConnectionInterface(IID* iid)
{
    if (!m_pOuter->OnOwnThread(L"GetConnectionInterface")) return RPC_E_WRONG_THREAD;
    if (!iid) return E_POINTER;
    *iid = DIID_DWebBrowserEvents2;
    return S_OK;
}

STDMETHODIMP StandinControl::EventPoint::GetConnectionPointContainer(IConnectionPointContainer** container)
{
    if (!m_pOuter->OnOwnThread(L"GetConnectionPointContainer")) return RPC_E_WRONG_THREAD;
    if (!container) return E_POINTER;
    *container = m_pOuter;
    m_pOuter->AddRef();
    return S_OK;
}

STDMETHODIMP StandinControl::EventPoint::Advise(IUnknown* sink, DWORD* cookie)
{
    if (!m_pOuter->OnOwnThread(L"Advise")) return RPC_E_WRONG_THREAD;
    if (!sink || !cookie) return E_POINTER;
    if (m_pSink) return CONNECT_E_ADVISELIMIT;
    if (FAILED(sink->QueryInterface(IID_IDispatch, m_pSink.put_void()))) return CONNECT_E_CANNOTCONNECT;
    *cookie = 1;
    LogSinkCounting();
    return S_OK;
}

STDMETHODIMP StandinControl::EventPoint::Unadvise(DWORD cookie)
{
    if (!m_pOuter->OnOwnThread(L"Unadvise")) return RPC_E_WRONG_THREAD;
    if (cookie != 1 || !m_pSink) return CONNECT_E_NOCONNECTION;
    m_pSink.reset();
    return S_OK;
}

void StandinControl::EventPoint::LogSinkCounting()
{
    // A sink is an object of its own: a reference to it is none to the client site.
    IOleClientSite* site = m_pOuter->m_pSite.get();
    if (!site || !m_pSink) return;
    const ULONG before = site->AddRef();
    m_pSink->AddRef();
    const ULONG after = site->AddRef();
    m_pSink->Release();
    site->Release();
    site->Release();
    Log(after == before + 1 ? L"event sink: counts its own references"
                            : L"event sink: its references count on the client site");
}

void StandinControl::Fire(DISPID event, DISPPARAMS& params)
{
    if (m_eventPoint.m_pSink)
        m_eventPoint.m_pSink->Invoke(event, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                                     nullptr);
}

void StandinControl::FireDocumentEvent(DISPID event, IDispatch* frame, const std::wstring& address)
{
    // (IDispatch* frame, VARIANT* URL), last argument first.
    VARIANT url;
    VariantInit(&url);
    V_VT(&url) = VT_BSTR;
    V_BSTR(&url) = SysAllocString(address.c_str());
    VARIANT args[2];
    VariantInit(&args[0]);
    V_VT(&args[0]) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&args[0]) = &url;
    VariantInit(&args[1]);
    V_VT(&args[1]) = VT_DISPATCH;
    V_DISPATCH(&args[1]) = frame;
    DISPPARAMS params{args, nullptr, 2, 0};
    Fire(event, params);
    VariantClear(&url);
}

void StandinControl::LogPlaceAfterCompletion(const wchar_t* which)
{
    const bool shown = m_hPlace && (GetWindowLongPtrW(m_hPlace, GWL_STYLE) & WS_VISIBLE);
    Log(std::wstring(L"DocumentComplete of the ") + which + L": place " + (shown ? L"shown" : L"hidden"));
}

void StandinControl::LoadFrames(const std::vector<std::wstring>& frames)
{
    // Each frame is its own document with its own object, complete before the page.
    for (const std::wstring& src : frames) {
        const std::wstring url = ResolveUrl(m_url, src);
        const PageSource frame = FetchPage(url);
        Log(L"frame " + url + (frame.fetched ? L" loaded" : L" not loaded: " + frame.error));
        auto* object = new PropertyObject();
        object->AddText(L"LocationURL", url);
        FireDocumentEvent(DISPID_NAVIGATECOMPLETE2, object, url);
        FireDocumentEvent(DISPID_DOCUMENTCOMPLETE, object, url);
        LogPlaceAfterCompletion(L"frame");
        object->Release();
    }
}

void StandinControl::StartLateFrames(const std::vector<std::wstring>& frames)
{
    for (const std::wstring& src : frames) {
        auto* job = new LateFrameFetch{m_hWnd, ResolveUrl(m_url, src)};
        Log(L"late frame " + job->url + L" requested");
        if (HANDLE thread = CreateThread(nullptr, 0, &FetchLateFrame, job, 0, nullptr))
            CloseHandle(thread);
        else
            delete job;
    }
}

void StandinControl::CompleteLateFrame(const std::wstring& url, bool fetched)
{
    auto* object = new PropertyObject();
    object->AddText(L"LocationURL", url);
    FireDocumentEvent(DISPID_NAVIGATECOMPLETE2, object, url);
    FireDocumentEvent(DISPID_DOCUMENTCOMPLETE, object, url);
    Log(L"late frame " + url + (fetched ? L" loaded" : L" not loaded"));
    LogPlaceAfterCompletion(L"late frame");
    object->Release();
}

void StandinControl::CreateFields(const std::vector<std::wstring>& ids)
{
    for (size_t i = 0; i < ids.size() && m_hWnd; ++i) {
        HWND field = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 16,
                                     72 + static_cast<int>(i) * 40, 260, 28, m_hWnd,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstFieldId + i)), g_standinModule,
                                     nullptr);
        if (!field) continue;
        SetWindowLongPtrW(field, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        const auto previous = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&StandinControl::FieldProc)));
        if (!g_editProc) g_editProc = previous;
        m_fields.push_back(Field{ids[i], field});
    }
}

bool StandinControl::FieldText(const std::wstring& id, std::wstring& text)
{
    for (const Field& field : m_fields) {
        if (field.id != id) continue;
        wchar_t buffer[1024] = {};
        GetWindowTextW(field.hwnd, buffer, 1024);
        text = buffer;
        return true;
    }
    return false;
}

void StandinControl::LoadPage()
{
    EndPage();
    m_readyState = READYSTATE_LOADING;
    if (auto handler = UiHandler()) {
        DOCHOSTUIINFO info{};
        info.cbSize = sizeof info;
        handler->GetHostInfo(&info);
        Log(L"host info: flags " + Hex(info.dwFlags) + L", double-click " + std::to_wstring(info.dwDoubleClick));
    }
    const PageSource page = FetchPage(m_url);
    m_title = page.fetched ? page.title : L"The page could not be loaded: " + page.error;
    m_textColour = page.textColour;
    m_paragraphs = page.paragraphs;
    Log(L"page " + m_url + (page.fetched ? L" loaded, title \"" + page.title + L"\", " +
                                                std::to_wstring(page.scripts.size()) + L" script(s)"
                                          : L" not loaded: " + page.error));
    CreateFields(page.fields);
    m_readyState = READYSTATE_INTERACTIVE;
    IDispatch* top = static_cast<IDispatch*>(this);
    FireDocumentEvent(DISPID_NAVIGATECOMPLETE2, top, m_url);

    if (auto handler = UiHandler()) handler->GetExternal(m_pExternal.put());
    m_pScript = PageScript::Create(*this, m_url, m_title);
    m_pScript->Run(page.scripts);
    LoadFrames(page.frames);

    m_readyState = READYSTATE_COMPLETE;
    FireDocumentEvent(DISPID_DOCUMENTCOMPLETE, top, m_url);
    LogPlaceAfterCompletion(L"page");
    // The page is complete: its lazily loaded frames come now, each with its own completion.
    StartLateFrames(page.lateFrames);
    if (m_hWnd) InvalidateRect(m_hWnd, nullptr, TRUE);
}

void StandinControl::StopTimers()
{
    for (auto& [id, fn] : m_timers) {
        if (m_hWnd) KillTimer(m_hWnd, id);
        fn->Release();
    }
    m_timers.clear();
}

void StandinControl::EndPage()
{
    StopTimers();
    for (Field& field : m_fields) DestroyWindow(field.hwnd);
    m_fields.clear();
    if (m_pScript) {
        m_pScript->Close();
        m_pScript->Release();
        m_pScript = nullptr;
    }
}

HRESULT StandinControl::AskHost(const std::wstring& text, UINT type, LRESULT& result)
{
    fw::ComPtr<IDocHostShowUI> showUi;
    if (m_pSite) m_pSite->QueryInterface(kIID_IDocHostShowUI, showUi.put_void());
    const HRESULT hr = showUi ? showUi->ShowMessage(m_hWnd, const_cast<LPOLESTR>(text.c_str()),
                                                   const_cast<LPOLESTR>(L"Message from webpage"), type, nullptr, 0,
                                                   &result)
                              : S_FALSE;
    if (hr != S_OK) result = MessageBoxW(m_hWnd, text.c_str(), L"Message from webpage", type);
    return hr;
}

void StandinControl::Alert(const std::wstring& text)
{
    LRESULT result = 0;
    const HRESULT hr = AskHost(text, MB_OK | MB_ICONWARNING, result);
    Log(L"alert \"" + text + (hr == S_OK ? L"\": shown by the host" : L"\": shown by the browser"));
}

bool StandinControl::Confirm(const std::wstring& text)
{
    // A host that shows the box but leaves the answer unwritten gives the page no OK.
    LRESULT result = 0;
    const HRESULT hr = AskHost(text, MB_OKCANCEL | MB_ICONQUESTION, result);
    Log(L"confirm \"" + text + (hr == S_OK ? L"\": answered by the host with " : L"\": answered in the browser with ") +
        std::to_wstring(result));
    return result == IDOK;
}

void StandinControl::ScriptError(const std::wstring& message, unsigned long line)
{
    // The host is asked as the real browser asks it: the page's document, whose window's
    // event carries the error; without an answer the browser shows its own box.
    auto* event = new PropertyObject();
    event->AddText(L"errorMessage", message);
    event->AddText(L"errorLine", std::to_wstring(line));
    event->AddText(L"errorCharacter", L"0");
    event->AddText(L"errorCode", L"0");
    event->AddText(L"errorUrl", m_url);
    auto* window = new PropertyObject();
    window->AddObject(L"event", event);
    auto* document = new PropertyObject();
    document->AddObject(L"parentWindow", window);
    VARIANT in, out;
    VariantInit(&in);
    VariantInit(&out);
    V_VT(&in) = VT_UNKNOWN;
    V_UNKNOWN(&in) = static_cast<IDispatch*>(document);
    fw::ComPtr<IOleCommandTarget> target;
    if (m_pSite) m_pSite->QueryInterface(IID_IOleCommandTarget, target.put_void());
    const HRESULT hr = target ? target->Exec(&kCGID_DocHostCommandHandler, OLECMDID_SHOWSCRIPTERROR,
                                             OLECMDEXECOPT_DODEFAULT, &in, &out)
                              : E_NOINTERFACE;
    document->Release();
    if (hr == S_OK) {
        const bool goOn = V_VT(&out) == VT_BOOL && V_BOOL(&out) == VARIANT_TRUE;
        Log(std::wstring(L"script error: answered by the host, ") + (goOn ? L"scripts go on" : L"scripts stop"));
    } else {
        Log(L"script error: shown by the browser");
        const std::wstring box = L"An error has occurred in the script on this page.\n\nLine: " + std::to_wstring(line) +
                                 L"\nError: " + message + L"\nURL: " + m_url;
        MessageBoxW(m_hWnd, box.c_str(), L"Script Error", MB_OK | MB_ICONERROR);
    }
    VariantClear(&out);
}

void StandinControl::Open(const std::wstring& url)
{
    // NewWindow3(IDispatch** ppDisp, VARIANT_BOOL* Cancel, DWORD dwFlags, BSTR context, BSTR url)
    IDispatch* newWindow = nullptr;
    VARIANT_BOOL cancel = VARIANT_FALSE;
    BSTR context = SysAllocString(m_url.c_str());
    BSTR target = SysAllocString(url.c_str());
    VARIANT args[5];
    for (VARIANT& a : args) VariantInit(&a);
    V_VT(&args[4]) = VT_BYREF | VT_DISPATCH;
    V_DISPATCHREF(&args[4]) = &newWindow;
    V_VT(&args[3]) = VT_BYREF | VT_BOOL;
    V_BOOLREF(&args[3]) = &cancel;
    V_VT(&args[2]) = VT_I4;
    V_I4(&args[2]) = 0;
    V_VT(&args[1]) = VT_BSTR;
    V_BSTR(&args[1]) = context;
    V_VT(&args[0]) = VT_BSTR;
    V_BSTR(&args[0]) = target;
    DISPPARAMS params{args, nullptr, 5, 0};
    Fire(DISPID_NEWWINDOW3, params);
    SysFreeString(context);
    SysFreeString(target);
    if (newWindow) newWindow->Release();
    Log(L"window.open " + url + (cancel ? L": cancelled by the host" : L": the browser would open a new window"));
}

long StandinControl::SetTimeout(IDispatch* fn, long ms)
{
    if (!m_hWnd) return 0;
    const UINT_PTR id = m_nextTimer++;
    fn->AddRef();
    m_timers[id] = fn;
    SetTimer(m_hWnd, id, static_cast<UINT>(ms < 0 ? 0 : ms), nullptr);
    return static_cast<long>(id);
}

void StandinControl::OnContextMenu(LPARAM lp)
{
    POINT pt{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
    auto handler = UiHandler();
    if (handler && handler->ShowContextMenu(CONTEXT_MENU_DEFAULT, &pt, nullptr, nullptr) == S_OK) {
        Log(L"context menu: left to the host, none shown");
        return;
    }
    Log(L"context menu: shown");
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, 1, L"Refresh");
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, pt.x, pt.y, 0, m_hWnd, nullptr);
    DestroyMenu(menu);
}

void StandinControl::Paint()
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hWnd, &ps);
    RECT rect;
    GetClientRect(m_hWnd, &rect);
    HBRUSH panel = CreateSolidBrush(RGB(236, 240, 248));
    FillRect(dc, &rect, panel);
    DeleteObject(panel);
    SetBkMode(dc, TRANSPARENT);
    // The page's own text in the colours the page asks for (black unless it names one).
    HFONT font = CreateFontW(-24, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY, DEFAULT_PITCH, L"Tahoma");
    HGDIOBJ previous = SelectObject(dc, font);
    RECT text = rect;
    InflateRect(&text, -16, -16);
    SetTextColor(dc, m_textColour);
    DrawTextW(dc, m_title.empty() ? L"(no page)" : m_title.c_str(), -1, &text, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    text.top = 72 + static_cast<LONG>(m_fields.size()) * 40;
    for (const Paragraph& paragraph : m_paragraphs) {
        SetTextColor(dc, paragraph.colour);
        RECT line = text;
        DrawTextW(dc, paragraph.text.c_str(), -1, &line, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX | DT_CALCRECT);
        DrawTextW(dc, paragraph.text.c_str(), -1, &text, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
        text.top = line.bottom + 8;
    }
    SelectObject(dc, previous);
    DeleteObject(font);
    // The address is the browser's, not the page's.
    SetTextColor(dc, RGB(30, 40, 70));
    text.top = rect.bottom - 36;
    DrawTextW(dc, m_url.c_str(), -1, &text, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
    EndPaint(m_hWnd, &ps);
}

LRESULT CALLBACK StandinControl::FieldProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    auto* self = reinterpret_cast<StandinControl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self) {
        self->AddRef();
        bool handled = false;
        switch (msg) {
        case WM_SETFOCUS:
            self->UIActivate();
            break;
        case WM_KEYDOWN:
            self->PageKey(wp);
            break;
        case WM_PASTE:
            // A page's field is no window of its own: its only paste is the browser's Ctrl+V,
            // taken in TranslateAccelerator from the OLE clipboard. The edit control's own
            // paste (from the Win32 clipboard, on a dispatched Ctrl+V) would let a container
            // that never forwards keys pass for one that does.
            handled = true;
            break;
        case WM_CHAR:
            handled = wp == 0x16;  // Ctrl+V dispatched without the accelerator: no paste
            break;
        case WM_CONTEXTMENU:
            // The edit control's own menu is no browser's: the host decides, as for the page.
            self->OnContextMenu(lp);
            handled = true;
            break;
        case WM_MOUSEWHEEL:
            self->WheelTurned(wp);
            handled = true;
            break;
        default:
            break;
        }
        self->Release();
        if (handled) return 0;
    }
    return CallWindowProcW(g_editProc ? g_editProc : &DefWindowProcW, hwnd, msg, wp, lp);
}

LRESULT CALLBACK StandinControl::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    auto* self = reinterpret_cast<StandinControl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    // The control stays alive while it handles a message, whatever the page's script does.
    self->AddRef();
    const LRESULT result = self->OnMessage(msg, wp, lp);
    self->Release();
    return result;
}

LRESULT StandinControl::OnMessage(UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case kNavigateMessage:
        LoadPage();
        return 0;
    case kLateFrameMessage: {
        const std::unique_ptr<LateFrame> frame(reinterpret_cast<LateFrame*>(lp));
        CompleteLateFrame(frame->url, frame->fetched);
        return 0;
    }
    case WM_MOUSEWHEEL:
        WheelTurned(wp);
        return 0;
    case WM_TIMER: {
        KillTimer(m_hWnd, wp);
        const auto timer = m_timers.find(wp);
        if (timer == m_timers.end()) return 0;
        IDispatch* fn = timer->second;
        m_timers.erase(timer);
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        fn->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
        fn->Release();
        return 0;
    }
    case WM_KEYDOWN:
        // A key the container dispatched: the page gets it (the host was asked before).
        PageKey(wp);
        break;
    case WM_SETFOCUS:
        UIActivate();
        break;
    case WM_GETDLGCODE:
        return DLGC_WANTALLKEYS | DLGC_WANTCHARS;
    case WM_LBUTTONDOWN:
        SetFocus(m_hWnd);
        return 0;
    case WM_CONTEXTMENU:
        OnContextMenu(lp);
        return 0;
    case WM_PAINT:
        Paint();
        return 0;
    case WM_ERASEBKGND:
        return 1;
    default:
        break;
    }
    return DefWindowProcW(m_hWnd, msg, wp, lp);
}

}  // namespace standin
