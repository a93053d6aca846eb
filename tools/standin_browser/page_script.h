// A page's inline scripts, run in the system's JScript engine with one global object,
// "window", whose members are also globals: external, alert, confirm, open, setTimeout,
// location and document (its title and getElementById for the page's text fields). What those
// do is up to the page's host (the stand-in control).
#pragma once
#include <windows.h>
#include <activscp.h>

#include <string>
#include <vector>

#include "fw/com_ptr.h"

namespace standin {

class PageHost {
public:
    virtual ~PageHost() = default;
    virtual HWND Window() = 0;
    // The page's external object (no reference added), or nullptr.
    virtual IDispatch* External() = 0;
    virtual void Alert(const std::wstring& text) = 0;
    // The page's question; true when it was answered OK.
    virtual bool Confirm(const std::wstring& text) = 0;
    // The text of the page's field with this id; false when the page has no such field.
    virtual bool FieldText(const std::wstring& id, std::wstring& text) = 0;
    // A script error the engine met (its line in the page's script).
    virtual void ScriptError(const std::wstring& message, unsigned long line) = 0;
    virtual void Open(const std::wstring& url) = 0;
    // Calls fn after ms milliseconds; returns the timer's id.
    virtual long SetTimeout(IDispatch* fn, long ms) = 0;
};

class PageScript : public IActiveScriptSite, public IActiveScriptSiteWindow {
public:
    static PageScript* Create(PageHost& host, const std::wstring& url, const std::wstring& title);

    // Runs the scripts in order; errors go to the log and the next script still runs.
    void Run(const std::vector<std::wstring>& scripts);
    // Calls the page's global function `name` with one number, or none; false when the page
    // has no such function.
    bool CallGlobal(const wchar_t* name, long argument);
    bool CallGlobal(const wchar_t* name);
    // Ends the engine; the object lives on until its last reference.
    void Close();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override;

    // IActiveScriptSite
    STDMETHODIMP GetLCID(LCID*) override { return E_NOTIMPL; }
    STDMETHODIMP GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** type) override;
    STDMETHODIMP GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    STDMETHODIMP OnStateChange(SCRIPTSTATE) override { return S_OK; }
    STDMETHODIMP OnScriptError(IActiveScriptError* error) override;
    STDMETHODIMP OnEnterScript() override { return S_OK; }
    STDMETHODIMP OnLeaveScript() override { return S_OK; }

    // IActiveScriptSiteWindow
    STDMETHODIMP GetWindow(HWND* hwnd) override;
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }

private:
    PageScript() = default;
    virtual ~PageScript() = default;

    ULONG m_cRef = 1;
    PageHost* m_pHost = nullptr;
    fw::ComPtr<IDispatch> m_pWindow;
    fw::ComPtr<IActiveScript> m_pEngine;
};

}  // namespace standin
