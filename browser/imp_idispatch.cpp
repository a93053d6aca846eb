#include "browser/imp_idispatch.h"

#include <cwchar>
#include <utility>

#include "browser/script_bridge_ends.h"
#include "diag/file_log.h"

namespace {

struct NameEntry {
    const wchar_t* name;
    DISPID id;
};
const NameEntry kNames[] = {
    {L"JavascriptToCsharp", CImpIDispatch::kJavascriptToCsharp},
    {L"AppLogin", CImpIDispatch::kLogin},
    {L"gamelogin", CImpIDispatch::kLogin},
    {L"IsDownLoadComplete", CImpIDispatch::kIsDownLoadComplete},
};

// A script argument as text: strings as they are, a null string as empty, other values
// through the automation conversion to text when it has one, and empty otherwise (objects,
// missing arguments).
std::wstring ArgumentText(const VARIANTARG& arg)
{
    const VARIANTARG* value = &arg;
    if (V_VT(value) == (VT_VARIANT | VT_BYREF) && V_VARIANTREF(value)) value = V_VARIANTREF(value);
    if (V_VT(value) == VT_BSTR) return V_BSTR(value) ? std::wstring(V_BSTR(value), ::SysStringLen(V_BSTR(value))) : L"";
    if (V_VT(value) == VT_DISPATCH || V_VT(value) == VT_UNKNOWN || V_VT(value) == VT_EMPTY ||
        V_VT(value) == VT_NULL || V_VT(value) == VT_ERROR)
        return L"";
    VARIANT text;
    ::VariantInit(&text);
    std::wstring result;
    // The invariant locale and "True"/"False": the same text on every player's machine.
    if (SUCCEEDED(::VariantChangeTypeEx(&text, const_cast<VARIANTARG*>(value), LOCALE_INVARIANT, VARIANT_ALPHABOOL,
                                        VT_BSTR)) &&
        V_BSTR(&text))
        result.assign(V_BSTR(&text), ::SysStringLen(V_BSTR(&text)));
    ::VariantClear(&text);
    return result;
}

void StoreString(VARIANT* result, const std::wstring& text)
{
    if (!result) return;
    ::VariantClear(result);
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

}  // namespace

STDMETHODIMP CImpIDispatch::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IDispatch) && !IsEqualIID(riid, IID_IUnknown)) return E_NOINTERFACE;
    *ppv = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CImpIDispatch::AddRef() { return ++m_cRef; }

STDMETHODIMP_(ULONG) CImpIDispatch::Release()
{
    const ULONG count = --m_cRef;
    if (count == 0) delete this;
    return count;
}

STDMETHODIMP CImpIDispatch::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }

STDMETHODIMP CImpIDispatch::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

STDMETHODIMP CImpIDispatch::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId)
{
    if (!rgDispId || cNames == 0) return E_INVALIDARG;
    DISPID id = DISPID_UNKNOWN;
    if (rgszNames && rgszNames[0])
        for (const NameEntry& entry : kNames)
            if (std::wcscmp(rgszNames[0], entry.name) == 0) id = entry.id;
    for (UINT i = 0; i < cNames; ++i) rgDispId[i] = id;
    return id == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK;
}

STDMETHODIMP CImpIDispatch::Invoke(DISPID dispIdMember, REFIID, LCID, WORD, DISPPARAMS* pDispParams,
                                   VARIANT* pVarResult, EXCEPINFO*, UINT*)
{
    // Script arguments arrive last first: element 0 is the last one.
    const UINT count = pDispParams && pDispParams->rgvarg ? pDispParams->cArgs : 0;
    switch (dispIdMember) {
    case kJavascriptToCsharp:
        if (count < 2) break;
        StoreString(pVarResult, Dispatch(ArgumentText(pDispParams->rgvarg[1]), ArgumentText(pDispParams->rgvarg[0])));
        break;
    case kLogin:
        if (count < 1) break;
        StoreString(pVarResult, Dispatch(L"LoginResult", ArgumentText(pDispParams->rgvarg[0])));
        break;
    case kIsDownLoadComplete:
        if (pVarResult) {
            ::VariantClear(pVarResult);
            V_VT(pVarResult) = VT_BOOL;
            V_BOOL(pVarResult) = IsDownLoadComplete() ? VARIANT_TRUE : VARIANT_FALSE;
        }
        break;
    default:
        break;
    }
    return S_OK;
}

void ReleaseApplicationExternal(CImpIDispatch*& external)
{
    if (!external) return;
    const ULONG left = std::exchange(external, nullptr)->Release();
    if (left != 0)
        LOG_INFO("CWebApp::ExitInstance", L"window.external still referenced (" + std::to_wstring(left) +
                                              L"): it goes with its last release or with the process");
}

std::wstring CImpIDispatch::Dispatch(const std::wstring& method, const std::wstring& params)
{
    IPageCallTarget* target = MainWindowPageCallTarget();
    return target ? target->JavascriptToCPLUSPLUS(method, params) : std::wstring();
}

bool CImpIDispatch::IsDownLoadComplete()
{
    const IPageCallTarget* target = MainWindowPageCallTarget();
    return target && target->IsReady();
}
