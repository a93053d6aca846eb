#include "tools/standin_browser/script_objects.h"

#include <cwchar>

#include "tools/standin_browser/page_script.h"
#include "tools/standin_browser/standin_log.h"

namespace standin {

std::wstring ArgumentText(const DISPPARAMS& params, UINT fromEnd)
{
    // Script order: the first argument is the last element.
    if (fromEnd >= params.cArgs || !params.rgvarg) return L"";
    VARIANT text;
    VariantInit(&text);
    std::wstring result;
    if (SUCCEEDED(VariantChangeType(&text, &params.rgvarg[params.cArgs - 1 - fromEnd], 0, VT_BSTR)) && V_BSTR(&text))
        result = V_BSTR(&text);
    VariantClear(&text);
    return result;
}

PropertyObject::~PropertyObject()
{
    for (Member& m : m_members)
        if (m.object) m.object->Release();
}

void PropertyObject::AddText(const std::wstring& name, const std::wstring& value)
{
    m_members.push_back(Member{name, value, nullptr});
}

void PropertyObject::AddObject(const std::wstring& name, IDispatch* object)
{
    m_members.push_back(Member{name, L"", object});
}

STDMETHODIMP PropertyObject::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch)) return E_NOINTERFACE;
    *ppv = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) PropertyObject::Release()
{
    const ULONG count = --m_cRef;
    if (count == 0) delete this;
    return count;
}

const std::vector<std::wstring>& PropertyObject::MethodNames() const
{
    static const std::vector<std::wstring> none;
    return none;
}

HRESULT PropertyObject::CallMethod(DISPID, DISPPARAMS&, VARIANT*) { return DISP_E_MEMBERNOTFOUND; }

bool PropertyObject::AnswerName(LPOLESTR* names, UINT count, DISPID* ids, const wchar_t* name, DISPID id)
{
    if (!names || !ids || count == 0 || std::wcscmp(names[0], name) != 0) return false;
    for (UINT i = 0; i < count; ++i) ids[i] = id;
    return true;
}

STDMETHODIMP PropertyObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    if (!names || !ids || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    for (size_t i = 0; i < m_members.size(); ++i)
        if (m_members[i].name == names[0]) ids[0] = static_cast<DISPID>(i + 1);
    const auto& methods = MethodNames();
    for (size_t i = 0; i < methods.size(); ++i)
        if (methods[i] == names[0]) ids[0] = kFirstMethod + static_cast<DISPID>(i);
    return ids[0] == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK;
}

STDMETHODIMP PropertyObject::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                    UINT*)
{
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (id >= kFirstMethod) return CallMethod(id, params ? *params : none, result);
    if (id < 1 || static_cast<size_t>(id) > m_members.size()) return DISP_E_MEMBERNOTFOUND;
    if (!result) return S_OK;
    const Member& m = m_members[static_cast<size_t>(id - 1)];
    VariantInit(result);
    if (m.object) {
        V_VT(result) = VT_DISPATCH;
        V_DISPATCH(result) = m.object;
        m.object->AddRef();
    } else {
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = SysAllocString(m.text.c_str());
    }
    return S_OK;
}

const std::vector<std::wstring>& DocumentObject::MethodNames() const
{
    static const std::vector<std::wstring> names = {L"getElementById"};
    return names;
}

HRESULT DocumentObject::CallMethod(DISPID id, DISPPARAMS& params, VARIANT* result)
{
    if (id != kFirstMethod) return DISP_E_MEMBERNOTFOUND;
    const std::wstring wanted = ArgumentText(params, 0);
    std::wstring text;
    if (!result) return S_OK;
    VariantInit(result);
    V_VT(result) = VT_NULL;
    if (m_host.FieldText(wanted, text)) {
        V_VT(result) = VT_DISPATCH;
        V_DISPATCH(result) = new FieldObject(m_host, wanted);
    }
    return S_OK;
}

STDMETHODIMP FieldObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids)
{
    if (AnswerName(names, count, ids, L"value", kValue)) return S_OK;
    return PropertyObject::GetIDsOfNames(riid, names, count, lcid, ids);
}

STDMETHODIMP FieldObject::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO* excep, UINT* arg)
{
    if (id != kValue) return PropertyObject::Invoke(id, riid, lcid, flags, params, result, excep, arg);
    std::wstring text;
    m_host.FieldText(m_id, text);
    if (result) {
        VariantInit(result);
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = SysAllocString(text.c_str());
    }
    return S_OK;
}

const std::vector<std::wstring>& WindowObject::MethodNames() const
{
    static const std::vector<std::wstring> names = {L"alert", L"open", L"setTimeout", L"confirm"};
    return names;
}

STDMETHODIMP WindowObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids)
{
    if (AnswerName(names, count, ids, L"external", kExternal)) return S_OK;
    return PropertyObject::GetIDsOfNames(riid, names, count, lcid, ids);
}

STDMETHODIMP WindowObject::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                  EXCEPINFO* excep, UINT* arg)
{
    if (id != kExternal) return PropertyObject::Invoke(id, riid, lcid, flags, params, result, excep, arg);
    if (!result) return S_OK;
    VariantInit(result);
    IDispatch* external = m_host.External();
    if (external) {
        V_VT(result) = VT_DISPATCH;
        V_DISPATCH(result) = external;
        external->AddRef();
    } else {
        V_VT(result) = VT_NULL;
    }
    return S_OK;
}

HRESULT WindowObject::CallMethod(DISPID id, DISPPARAMS& params, VARIANT* result)
{
    switch (id - kFirstMethod) {
    case 0:
        m_host.Alert(ArgumentText(params, 0));
        return S_OK;
    case 1:
        m_host.Open(ArgumentText(params, 0));
        if (result) {
            VariantInit(result);
            V_VT(result) = VT_NULL;
        }
        return S_OK;
    case 2: {
        const VARIANT* fn = params.cArgs >= 1 ? &params.rgvarg[params.cArgs - 1] : nullptr;
        if (!fn || V_VT(fn) != VT_DISPATCH || !V_DISPATCH(fn)) {
            Log(L"setTimeout: only a function can be scheduled");
            return E_INVALIDARG;
        }
        const long ms = params.cArgs >= 2 ? std::wcstol(ArgumentText(params, 1).c_str(), nullptr, 10) : 0;
        const long timer = m_host.SetTimeout(V_DISPATCH(fn), ms);
        if (result) {
            VariantInit(result);
            V_VT(result) = VT_I4;
            V_I4(result) = timer;
        }
        return S_OK;
    }
    case 3: {
        const bool ok = m_host.Confirm(ArgumentText(params, 0));
        if (result) {
            VariantInit(result);
            V_VT(result) = VT_BOOL;
            V_BOOL(result) = ok ? VARIANT_TRUE : VARIANT_FALSE;
        }
        return S_OK;
    }
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}

}  // namespace standin
