// The entry page's window.external: a late-bound automation object with four names. Calls
// arrive on the window thread inside the browser's script engine and are forwarded to the
// splash window's dispatcher. The application holds one reference from its start; the object
// is deleted at its last Release, which may be the browser's, after the control was closed.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <string>

class CImpIDispatch : public IDispatch {
public:
    static constexpr DISPID kJavascriptToCsharp = 1;
    static constexpr DISPID kLogin = 2;
    static constexpr DISPID kIsDownLoadComplete = 3;

    CImpIDispatch() = default;
    virtual ~CImpIDispatch() = default;
    CImpIDispatch(const CImpIDispatch&) = delete;
    CImpIDispatch& operator=(const CImpIDispatch&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                        VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

    ULONG RefCount() const { return m_cRef; }

protected:
    // Where the page's calls go; the launcher's are the splash window's dispatcher and the
    // main launcher window's readiness. Tests put their own behind the same object.
    virtual std::wstring Dispatch(const std::wstring& method, const std::wstring& params);
    virtual bool IsDownLoadComplete();

private:
    ULONG m_cRef = 0;
};

// The application lets go of its window.external at exit; external is null afterwards. A
// reference the browser still holds keeps the object until that last release (or the
// process's end), and the log says so.
void ReleaseApplicationExternal(CImpIDispatch*& external);
