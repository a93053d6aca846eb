// The stand-in WebBrowser control: in-place activated by its host, it navigates by fetching
// the page (and its frames) and running its inline scripts, tells the host's DWebBrowserEvents2
// sink about the navigation, each frame and new windows, asks the host's document-host handler
// for its external object, its keys and its context menu, shows the page's alerts and
// questions through the host, asks the host's command target about script errors, and paints
// the page's title and paragraphs in the page's colours, with the page's text fields as edit
// controls, so screenshots show where the page is. Test tooling only.
//
// Like the real control it gets keys only from its container: once UI-activated (focused) it
// hands the host its IOleInPlaceActiveObject, whose TranslateAccelerator asks the host's
// TranslateAccelerator first and handles the browser's own keys (Tab between fields, paste,
// refresh, new window, ...) only when the host says S_FALSE. Its window procedure never asks
// the host; keys dispatched to it reach the page.
//
// It is an apartment-threaded object: a call from any thread but the one that created it is
// refused with RPC_E_WRONG_THREAD (and logged), as a call through a pointer carried to another
// thread without marshalling fails on Windows. After Close it may live on, with the page's
// external object, until the thread's apartment ends, as a real browser whose script engine
// lets go of the page's objects late.
#pragma once
#include <windows.h>
#include <mshtmhst.h>
#include <ocidl.h>
#include <oleidl.h>

#include <map>
#include <string>

#include <vector>

#include "fw/com_ptr.h"
#include "tools/standin_browser/page_script.h"
#include "tools/standin_browser/page_source.h"

namespace standin {

class StandinControl : public IOleObject,
                       public IOleInPlaceObject,
                       public IOleInPlaceActiveObject,
                       public IDispatch,
                       public IConnectionPointContainer,
                       public IPersistStreamInit,
                       public PageHost {
public:
    static constexpr DISPID kNavigate = 104;
    static constexpr DISPID kReadyState = -525;

    StandinControl();

    // Calls from the creating thread only: false (logged) for any other.
    bool OnOwnThread(const wchar_t* method) const;
    HRESULT Answer(const wchar_t* method, HRESULT answer) const
    {
        return OnOwnThread(method) ? answer : RPC_E_WRONG_THREAD;
    }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override;

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override;
    STDMETHODIMP GetClientSite(IOleClientSite** site) override;
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return Answer(L"SetHostNames", S_OK); }
    STDMETHODIMP Close(DWORD) override;
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return Answer(L"SetMoniker", E_NOTIMPL); }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return Answer(L"GetMoniker", E_NOTIMPL); }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return Answer(L"InitFromData", E_NOTIMPL); }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override { return Answer(L"GetClipboardData", E_NOTIMPL); }
    STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT rect) override;
    STDMETHODIMP EnumVerbs(IEnumOLEVERB**) override { return Answer(L"EnumVerbs", E_NOTIMPL); }
    STDMETHODIMP Update() override { return Answer(L"Update", S_OK); }
    STDMETHODIMP IsUpToDate() override { return Answer(L"IsUpToDate", S_OK); }
    STDMETHODIMP GetUserClassID(CLSID* clsid) override;
    STDMETHODIMP GetUserType(DWORD, LPOLESTR*) override { return Answer(L"GetUserType", E_NOTIMPL); }
    STDMETHODIMP SetExtent(DWORD, SIZEL*) override { return Answer(L"SetExtent", S_OK); }
    STDMETHODIMP GetExtent(DWORD, SIZEL*) override { return Answer(L"GetExtent", E_NOTIMPL); }
    STDMETHODIMP Advise(IAdviseSink*, DWORD*) override { return Answer(L"Advise", E_NOTIMPL); }
    STDMETHODIMP Unadvise(DWORD) override { return Answer(L"Unadvise", E_NOTIMPL); }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA**) override { return Answer(L"EnumAdvise", E_NOTIMPL); }
    STDMETHODIMP GetMiscStatus(DWORD, DWORD* status) override;
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return Answer(L"SetColorScheme", E_NOTIMPL); }

    // IOleWindow / IOleInPlaceObject
    STDMETHODIMP GetWindow(HWND* hwnd) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return Answer(L"ContextSensitiveHelp", E_NOTIMPL); }
    STDMETHODIMP InPlaceDeactivate() override;
    STDMETHODIMP UIDeactivate() override;
    STDMETHODIMP SetObjectRects(LPCRECT pos, LPCRECT clip) override;
    STDMETHODIMP ReactivateAndUndo() override { return Answer(L"ReactivateAndUndo", E_NOTIMPL); }

    // IOleInPlaceActiveObject
    STDMETHODIMP TranslateAccelerator(LPMSG msg) override;
    STDMETHODIMP OnFrameWindowActivate(BOOL) override { return Answer(L"OnFrameWindowActivate", S_OK); }
    STDMETHODIMP OnDocWindowActivate(BOOL) override { return Answer(L"OnDocWindowActivate", S_OK); }
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return Answer(L"ResizeBorder", S_OK); }
    STDMETHODIMP EnableModeless(BOOL) override { return Answer(L"EnableModeless", S_OK); }

    // IDispatch: Navigate and ReadyState
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return Answer(L"GetTypeInfoCount", E_NOTIMPL); }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return Answer(L"GetTypeInfo", E_NOTIMPL); }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override;

    // IConnectionPointContainer: one connection point, DWebBrowserEvents2
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override
    {
        return Answer(L"EnumConnectionPoints", E_NOTIMPL);
    }
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

    // IPersistStreamInit
    STDMETHODIMP GetClassID(CLSID* clsid) override { return GetUserClassID(clsid); }
    STDMETHODIMP IsDirty() override { return Answer(L"IsDirty", S_FALSE); }
    STDMETHODIMP Load(LPSTREAM) override { return Answer(L"Load", S_OK); }
    STDMETHODIMP Save(LPSTREAM, BOOL) override { return Answer(L"Save", S_OK); }
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER*) override { return Answer(L"GetSizeMax", E_NOTIMPL); }
    STDMETHODIMP InitNew() override { return Answer(L"InitNew", S_OK); }

    // PageHost
    HWND Window() override { return m_hWnd; }
    IDispatch* External() override { return m_pExternal.get(); }
    void Alert(const std::wstring& text) override;
    bool Confirm(const std::wstring& text) override;
    bool FieldText(const std::wstring& id, std::wstring& text) override;
    void ScriptError(const std::wstring& message, unsigned long line) override;
    void Open(const std::wstring& url) override;
    long SetTimeout(IDispatch* fn, long ms) override;

private:
    // The events' connection point; one sink at a time, as the host advises one.
    class EventPoint : public IConnectionPoint {
    public:
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override { return m_pOuter->AddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return m_pOuter->Release(); }
        STDMETHODIMP GetConnectionInterface(IID* iid) override;
        STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
        STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
        STDMETHODIMP Unadvise(DWORD cookie) override;
        STDMETHODIMP EnumConnections(IEnumConnections**) override
        {
            return m_pOuter->Answer(L"EnumConnections", E_NOTIMPL);
        }
        // Whether the sink's references are its own or the host's client site's.
        void LogSinkCounting();
        StandinControl* m_pOuter = nullptr;
        fw::ComPtr<IDispatch> m_pSink;
    } m_eventPoint;

    struct Field {
        std::wstring id;
        HWND hwnd;
    };

    ~StandinControl();
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK FieldProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
    void LoadPage();
    void LoadFrames(const std::vector<std::wstring>& frames);
    // Lazily loaded frames: fetched on another thread once the page has completed, each
    // navigating and completing then on the window thread (kLateFrameMessage).
    void StartLateFrames(const std::vector<std::wstring>& frames);
    void CompleteLateFrame(const std::wstring& url, bool fetched);
    // The in-place and UI deactivation, whoever asks for it.
    void LeaveUI();
    void Deactivate();
    // Keeps the closed control (and so the page's external object) until the apartment ends.
    void HoldUntilTheApartmentEnds();
    void FireDocumentEvent(DISPID event, IDispatch* frame, const std::wstring& url);
    void LogPlaceAfterCompletion(const wchar_t* which);
    void Fire(DISPID event, DISPPARAMS& params);
    // The page's message box through the host's IDocHostShowUI; the host's answer, else
    // S_FALSE when it has none (the browser then shows its own).
    HRESULT AskHost(const std::wstring& text, UINT type, LRESULT& result);
    // The browser's own handling of a key the host let through; true when it took the key.
    bool BrowserKey(const MSG& msg);
    void MoveFocusBetweenFields(bool back);
    void PasteInto(HWND field);
    void PageKey(WPARAM code);
    void WheelTurned(WPARAM wp);
    void UIActivate();
    void OnContextMenu(LPARAM lp);
    void Paint();
    void CreateFields(const std::vector<std::wstring>& ids);
    void StopTimers();
    void EndPage();
    fw::ComPtr<IDocHostUIHandler> UiHandler();

    ULONG m_cRef = 1;
    const DWORD m_ownThread;
    bool m_bClosed = false;
    HWND m_hWnd = nullptr;
    HWND m_hPlace = nullptr;  // the host's window the control lies in
    bool m_bUIActive = false;
    fw::ComPtr<IOleClientSite> m_pSite;
    fw::ComPtr<IOleInPlaceFrame> m_pFrame;
    fw::ComPtr<IDispatch> m_pExternal;
    PageScript* m_pScript = nullptr;
    std::map<UINT_PTR, IDispatch*> m_timers;
    UINT_PTR m_nextTimer = 100;
    long m_readyState = 0;  // READYSTATE_UNINITIALIZED
    std::wstring m_url;
    std::wstring m_title;
    unsigned long m_textColour = 0;
    std::vector<Paragraph> m_paragraphs;
    std::vector<Field> m_fields;
};

}  // namespace standin
