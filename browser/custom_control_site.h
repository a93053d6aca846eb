// The browser control's site: on top of the framework's control site it answers the
// browser's document-host questions (IDocHostUIHandler), shows the page's message boxes
// as the launcher's own (IDocHostShowUI), and answers the page's script errors itself
// (IOleCommandTarget), so a player never meets the browser's script error box.
#pragma once
#include <windows.h>
#include <mshtmhst.h>

#include "fw/ole_control_site.h"

// IDocHostShowUI's interface id and the document host's command group: not in every
// toolchain's uuid library.
extern const IID kIID_IDocHostShowUI;
extern const GUID kCGID_DocHostCommandHandler;

class CCustomControlSite : public fw::COleControlSite {
public:
    explicit CCustomControlSite(HWND container);

    class XDocHostUIHandler : public IDocHostUIHandler {
    public:
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return m_pOuter->QueryInterface(riid, ppv); }
        STDMETHODIMP_(ULONG) AddRef() override { return m_pOuter->AddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return m_pOuter->Release(); }
        STDMETHODIMP ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override;
        STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override;
        STDMETHODIMP ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                            IOleInPlaceUIWindow*) override;
        STDMETHODIMP HideUI() override;
        STDMETHODIMP UpdateUI() override;
        STDMETHODIMP EnableModeless(BOOL) override;
        STDMETHODIMP OnDocWindowActivate(BOOL) override;
        STDMETHODIMP OnFrameWindowActivate(BOOL) override;
        STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override;
        STDMETHODIMP TranslateAccelerator(LPMSG msg, const GUID*, DWORD) override;
        STDMETHODIMP GetOptionKeyPath(LPOLESTR*, DWORD) override;
        STDMETHODIMP GetDropTarget(IDropTarget*, IDropTarget**) override;
        STDMETHODIMP GetExternal(IDispatch** external) override;
        STDMETHODIMP TranslateUrl(DWORD, LPWSTR, LPWSTR*) override;
        STDMETHODIMP FilterDataObject(IDataObject*, IDataObject**) override;
        CCustomControlSite* m_pOuter = nullptr;
    } m_xDocHostUIHandler;

    class XDocHostShowUI : public IDocHostShowUI {
    public:
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return m_pOuter->QueryInterface(riid, ppv); }
        STDMETHODIMP_(ULONG) AddRef() override { return m_pOuter->AddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return m_pOuter->Release(); }
        STDMETHODIMP ShowMessage(HWND hwnd, LPOLESTR text, LPOLESTR caption, DWORD type, LPOLESTR helpFile,
                                 DWORD helpContext, LRESULT* result) override;
        STDMETHODIMP ShowHelp(HWND, LPOLESTR, UINT, DWORD, POINT, IDispatch*) override;
        CCustomControlSite* m_pOuter = nullptr;
    } m_xDocHostShowUI;

    class XOleCommandTarget : public IOleCommandTarget {
    public:
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return m_pOuter->QueryInterface(riid, ppv); }
        STDMETHODIMP_(ULONG) AddRef() override { return m_pOuter->AddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return m_pOuter->Release(); }
        STDMETHODIMP QueryStatus(const GUID* group, ULONG count, OLECMD* commands, OLECMDTEXT* text) override;
        // OLECMDID_SHOWSCRIPTERROR of the document host's group: the error is logged once and
        // the page's scripts go on; every other command is left to the browser.
        STDMETHODIMP Exec(const GUID* group, DWORD id, DWORD options, VARIANT* in, VARIANT* out) override;
        CCustomControlSite* m_pOuter = nullptr;
    } m_xOleCommandTarget;

protected:
    void* QueryExtraInterface(REFIID riid) override;
};
