#include "tools/standin_browser/standin_control.h"

#include <exdisp.h>
#include <exdispid.h>
#include <olectl.h>

#include "tools/standin_browser/page_source.h"
#include "tools/standin_browser/standin_log.h"

extern HINSTANCE g_standinModule;

namespace standin {

namespace {

const IID kIID_IDocHostShowUI = {0xc4d244b0, 0xd43e, 0x11cf, {0x89, 0x3b, 0x00, 0xaa, 0x00, 0xbd, 0xce, 0x1a}};
const wchar_t kWindowClass[] = L"StandinBrowserWindow";
const UINT kNavigateMessage = WM_APP + 1;

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

}  // namespace

StandinControl::StandinControl() { m_eventPoint.m_pOuter = this; }

StandinControl::~StandinControl() { EndPage(); }

STDMETHODIMP StandinControl::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleObject))
        *ppv = static_cast<IOleObject*>(this);
    else if (IsEqualIID(riid, IID_IOleWindow) || IsEqualIID(riid, IID_IOleInPlaceObject))
        *ppv = static_cast<IOleInPlaceObject*>(this);
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
    m_pSite.reset();
    if (site) {
        site->AddRef();
        *m_pSite.put() = site;
    }
    return S_OK;
}

STDMETHODIMP StandinControl::GetClientSite(IOleClientSite** site)
{
    if (!site) return E_POINTER;
    *site = m_pSite.get();
    if (*site) (*site)->AddRef();
    return S_OK;
}

STDMETHODIMP StandinControl::Close(DWORD)
{
    InPlaceDeactivate();
    return S_OK;
}

STDMETHODIMP StandinControl::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT rect)
{
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
    HWND owner = parent;
    if (!owner) inPlace->GetWindow(&owner);
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
    if (!clsid) return E_POINTER;
    *clsid = CLSID_WebBrowser;
    return S_OK;
}

STDMETHODIMP StandinControl::GetMiscStatus(DWORD, DWORD* status)
{
    if (status) *status = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_INSIDEOUT | OLEMISC_ACTIVATEWHENVISIBLE;
    return S_OK;
}

STDMETHODIMP StandinControl::GetWindow(HWND* hwnd)
{
    if (!hwnd) return E_POINTER;
    *hwnd = m_hWnd;
    return m_hWnd ? S_OK : E_FAIL;
}

STDMETHODIMP StandinControl::InPlaceDeactivate()
{
    EndPage();
    if (m_hWnd) {
        SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
        DestroyWindow(m_hWnd);
        m_hWnd = nullptr;
        fw::ComPtr<IOleInPlaceSite> inPlace;
        if (m_pSite && SUCCEEDED(m_pSite->QueryInterface(IID_IOleInPlaceSite, inPlace.put_void())))
            inPlace->OnInPlaceDeactivate();
    }
    return S_OK;
}

STDMETHODIMP StandinControl::SetObjectRects(LPCRECT pos, LPCRECT)
{
    if (m_hWnd && pos) MoveWindow(m_hWnd, pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top, TRUE);
    return S_OK;
}

STDMETHODIMP StandinControl::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    if (!names || !ids || count == 0) return E_INVALIDARG;
    ids[0] = DISPID_UNKNOWN;
    if (lstrcmpW(names[0], L"Navigate") == 0) ids[0] = kNavigate;
    if (lstrcmpW(names[0], L"ReadyState") == 0) ids[0] = kReadyState;
    return ids[0] == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK;
}

STDMETHODIMP StandinControl::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                    UINT*)
{
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
    // Like the real control, the navigation happens after the call has returned.
    if (!m_hWnd || !PostMessageW(m_hWnd, kNavigateMessage, 0, 0)) Log(L"Navigate before activation: ignored");
    return S_OK;
}

STDMETHODIMP StandinControl::FindConnectionPoint(REFIID riid, IConnectionPoint** point)
{
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
    if (!iid) return E_POINTER;
    *iid = DIID_DWebBrowserEvents2;
    return S_OK;
}

STDMETHODIMP StandinControl::EventPoint::GetConnectionPointContainer(IConnectionPointContainer** container)
{
    if (!container) return E_POINTER;
    *container = m_pOuter;
    m_pOuter->AddRef();
    return S_OK;
}

STDMETHODIMP StandinControl::EventPoint::Advise(IUnknown* sink, DWORD* cookie)
{
    if (!sink || !cookie) return E_POINTER;
    if (m_pSink) return CONNECT_E_ADVISELIMIT;
    if (FAILED(sink->QueryInterface(IID_IDispatch, m_pSink.put_void()))) return CONNECT_E_CANNOTCONNECT;
    *cookie = 1;
    return S_OK;
}

STDMETHODIMP StandinControl::EventPoint::Unadvise(DWORD cookie)
{
    if (cookie != 1 || !m_pSink) return CONNECT_E_NOCONNECTION;
    m_pSink.reset();
    return S_OK;
}

void StandinControl::Fire(DISPID event, DISPPARAMS& params)
{
    if (m_eventPoint.m_pSink)
        m_eventPoint.m_pSink->Invoke(event, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                                     nullptr);
}

void StandinControl::FireDocumentEvent(DISPID event)
{
    // (IDispatch* frame, VARIANT* URL), last argument first.
    VARIANT url;
    VariantInit(&url);
    V_VT(&url) = VT_BSTR;
    V_BSTR(&url) = SysAllocString(m_url.c_str());
    VARIANT args[2];
    VariantInit(&args[0]);
    V_VT(&args[0]) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&args[0]) = &url;
    VariantInit(&args[1]);
    V_VT(&args[1]) = VT_DISPATCH;
    V_DISPATCH(&args[1]) = static_cast<IDispatch*>(this);
    DISPPARAMS params{args, nullptr, 2, 0};
    Fire(event, params);
    VariantClear(&url);
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
    Log(L"page " + m_url + (page.fetched ? L" loaded, title \"" + page.title + L"\", " +
                                                std::to_wstring(page.scripts.size()) + L" script(s)"
                                          : L" not loaded: " + page.error));
    m_readyState = READYSTATE_INTERACTIVE;
    FireDocumentEvent(DISPID_NAVIGATECOMPLETE2);

    if (auto handler = UiHandler()) handler->GetExternal(m_pExternal.put());
    m_pScript = PageScript::Create(*this, m_url, m_title);
    m_pScript->Run(page.scripts);

    m_readyState = READYSTATE_COMPLETE;
    FireDocumentEvent(DISPID_DOCUMENTCOMPLETE);
    if (m_hWnd) InvalidateRect(m_hWnd, nullptr, TRUE);
}

void StandinControl::EndPage()
{
    for (auto& [id, fn] : m_timers) {
        if (m_hWnd) KillTimer(m_hWnd, id);
        fn->Release();
    }
    m_timers.clear();
    if (m_pScript) {
        m_pScript->Close();
        m_pScript->Release();
        m_pScript = nullptr;
    }
    m_pExternal.reset();
}

void StandinControl::Alert(const std::wstring& text)
{
    fw::ComPtr<IDocHostShowUI> showUi;
    if (m_pSite) m_pSite->QueryInterface(kIID_IDocHostShowUI, showUi.put_void());
    LRESULT result = 0;
    const HRESULT hr = showUi ? showUi->ShowMessage(m_hWnd, const_cast<LPOLESTR>(text.c_str()),
                                                   const_cast<LPOLESTR>(L"Message from webpage"),
                                                   MB_OK | MB_ICONWARNING, nullptr, 0, &result)
                              : S_FALSE;
    Log(L"alert \"" + text + (hr == S_OK ? L"\": shown by the host" : L"\": shown by the browser"));
    if (hr != S_OK) MessageBoxW(m_hWnd, text.c_str(), L"Message from webpage", MB_OK | MB_ICONWARNING);
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

bool StandinControl::OfferKey(UINT msg, WPARAM wp, LPARAM lp)
{
    auto handler = UiHandler();
    if (!handler) return false;
    MSG message{m_hWnd, msg, wp, lp, static_cast<DWORD>(GetMessageTime()), {}};
    const DWORD pos = GetMessagePos();
    message.pt = POINT{static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
    const bool blocked = handler->TranslateAccelerator(&message, nullptr, 0) == S_OK;
    if (msg == WM_KEYDOWN) Log(L"key " + Hex(static_cast<unsigned long>(wp)) + (blocked ? L" blocked" : L" passed"));
    return blocked;
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
    SetTextColor(dc, RGB(30, 40, 70));
    RECT text = rect;
    InflateRect(&text, -16, -16);
    const std::wstring shown = (m_title.empty() ? L"(no page)" : m_title) + L"\n\n" + m_url;
    DrawTextW(dc, shown.c_str(), -1, &text, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
    EndPaint(m_hWnd, &ps);
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
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_CHAR:
        if (OfferKey(msg, wp, lp)) return 0;
        if (msg == WM_KEYDOWN && m_pScript) m_pScript->CallGlobal(L"onkeydown", static_cast<long>(wp));
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
