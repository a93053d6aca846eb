#include "browser/web_browser2.h"

#include <exdisp.h>

#include "browser/custom_control_site.h"
#include "fw/com_ptr.h"

fw::COleControlSite* CCustomOccManager::CreateSite(HWND container) { return new CCustomControlSite(container); }

CWebBrowser2::CWebBrowser2() : m_pOccManager(new CCustomOccManager())
{
    fw::EnableControlContainer(m_pOccManager);
}

CWebBrowser2::~CWebBrowser2()
{
    if (m_pSite) {
        m_pSite->DestroyControl();
        m_pSite->Release();
    }
    fw::EnableControlContainer(nullptr);
    delete m_pOccManager;
}

bool CWebBrowser2::Create(HWND dialog, int id)
{
    if (m_pSite) return true;
    m_pSite = fw::ControlContainerManager().CreateSite(dialog);
    if (m_pSite->CreateControl(CLSID_WebBrowser, id, DIID_DWebBrowserEvents2)) return true;
    m_pSite->DestroyControl();
    m_pSite->Release();
    m_pSite = nullptr;
    return false;
}

void CWebBrowser2::UpdatePlace()
{
    if (m_pSite) m_pSite->UpdatePlace();
}

HRESULT CWebBrowser2::Navigate(const std::wstring& url)
{
    IDispatch* control = m_pSite ? m_pSite->ControlDispatch() : nullptr;
    if (!control) return E_NOINTERFACE;
    // The URL alone: flags, target frame, post data and headers are left out.
    VARIANTARG arg;
    ::VariantInit(&arg);
    V_VT(&arg) = VT_BSTR;
    V_BSTR(&arg) = ::SysAllocStringLen(url.data(), static_cast<UINT>(url.size()));
    DISPPARAMS params{&arg, nullptr, 1, 0};
    const HRESULT hr =
        control->Invoke(kNavigate, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    ::VariantClear(&arg);
    return hr;
}

long CWebBrowser2::GetReadyState()
{
    IDispatch* control = m_pSite ? m_pSite->ControlDispatch() : nullptr;
    if (!control) return -1;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    fw::Variant result;
    if (FAILED(control->Invoke(kReadyState, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, result.put(),
                               nullptr, nullptr)))
        return -1;
    fw::Variant asLong;
    if (FAILED(::VariantChangeType(asLong.put(), const_cast<VARIANT*>(&result.get()), 0, VT_I4))) return -1;
    return V_I4(&asLong.get());
}
