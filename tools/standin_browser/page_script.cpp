#include "tools/standin_browser/page_script.h"

#include <cwchar>

#include "tools/standin_browser/script_objects.h"
#include "tools/standin_browser/standin_log.h"

namespace standin {

namespace {

// The script engine's parse interface differs between 32-bit and 64-bit builds.
#ifdef _WIN64
const IID kIID_IActiveScriptParse = {0xc7ef7658, 0xe1ee, 0x480e, {0x97, 0xea, 0xd5, 0x2c, 0xb4, 0xd7, 0x6d, 0x17}};
#else
const IID kIID_IActiveScriptParse = {0xbb1a2ae2, 0xa4f9, 0x11cf, {0x8f, 0x20, 0x00, 0x80, 0x5f, 0x2c, 0xd0, 0x64}};
#endif

std::wstring QueryOf(const std::wstring& url)
{
    const size_t mark = url.find(L'?');
    if (mark == std::wstring::npos) return L"";
    const size_t hash = url.find(L'#', mark);
    return url.substr(mark, hash == std::wstring::npos ? std::wstring::npos : hash - mark);
}

}  // namespace

PageScript* PageScript::Create(PageHost& host, const std::wstring& url, const std::wstring& title)
{
    auto* script = new PageScript();
    script->m_pHost = &host;

    auto* location = new PropertyObject();
    location->AddText(L"href", url);
    location->AddText(L"search", QueryOf(url));
    auto* document = new DocumentObject(host);
    document->AddText(L"title", title);
    auto* window = new WindowObject(host);
    window->AddObject(L"location", location);
    window->AddObject(L"document", document);
    *script->m_pWindow.put() = window;

    CLSID jscript;
    if (FAILED(CLSIDFromProgID(L"JScript", &jscript)) ||
        FAILED(CoCreateInstance(jscript, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveScript,
                                script->m_pEngine.put_void()))) {
        Log(L"script engine: JScript is not available");
        return script;
    }
    fw::ComPtr<IActiveScriptParse> parse;
    if (FAILED(script->m_pEngine->QueryInterface(kIID_IActiveScriptParse, parse.put_void())) ||
        FAILED(script->m_pEngine->SetScriptSite(script)) || FAILED(parse->InitNew()) ||
        FAILED(script->m_pEngine->AddNamedItem(L"window", SCRIPTITEM_ISVISIBLE | SCRIPTITEM_GLOBALMEMBERS)) ||
        FAILED(script->m_pEngine->SetScriptState(SCRIPTSTATE_CONNECTED))) {
        Log(L"script engine: JScript could not be set up");
        script->m_pEngine.reset();
    }
    return script;
}

void PageScript::Run(const std::vector<std::wstring>& scripts)
{
    if (!m_pEngine) return;
    fw::ComPtr<IActiveScriptParse> parse;
    if (FAILED(m_pEngine->QueryInterface(kIID_IActiveScriptParse, parse.put_void()))) return;
    for (const std::wstring& text : scripts)
        parse->ParseScriptText(text.c_str(), nullptr, nullptr, nullptr, 0, 0, SCRIPTTEXT_ISVISIBLE, nullptr, nullptr);
}

namespace {

bool CallScriptGlobal(IActiveScript* engine, const wchar_t* name, DISPPARAMS& params)
{
    fw::ComPtr<IDispatch> globals;
    if (!engine || FAILED(engine->GetScriptDispatch(nullptr, globals.put()))) return false;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(globals->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return false;
    return SUCCEEDED(globals->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                                     nullptr));
}

}  // namespace

bool PageScript::CallGlobal(const wchar_t* name, long argument)
{
    VARIANT arg;
    VariantInit(&arg);
    V_VT(&arg) = VT_I4;
    V_I4(&arg) = argument;
    DISPPARAMS params{&arg, nullptr, 1, 0};
    return CallScriptGlobal(m_pEngine.get(), name, params);
}

bool PageScript::CallGlobal(const wchar_t* name)
{
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    return CallScriptGlobal(m_pEngine.get(), name, none);
}

void PageScript::Close()
{
    if (m_pEngine) {
        m_pEngine->Close();
        m_pEngine.reset();
    }
    m_pWindow.reset();
}

STDMETHODIMP PageScript::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IActiveScriptSite))
        *ppv = static_cast<IActiveScriptSite*>(this);
    else if (IsEqualIID(riid, IID_IActiveScriptSiteWindow))
        *ppv = static_cast<IActiveScriptSiteWindow*>(this);
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) PageScript::Release()
{
    const ULONG count = --m_cRef;
    if (count == 0) delete this;
    return count;
}

STDMETHODIMP PageScript::GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** type)
{
    if (item) *item = nullptr;
    if (type) *type = nullptr;
    if (!name || std::wcscmp(name, L"window") != 0 || !m_pWindow) return TYPE_E_ELEMENTNOTFOUND;
    if ((mask & SCRIPTINFO_IUNKNOWN) && item) {
        *item = m_pWindow.get();
        (*item)->AddRef();
    }
    return S_OK;
}

STDMETHODIMP PageScript::OnScriptError(IActiveScriptError* error)
{
    EXCEPINFO info{};
    DWORD context = 0;
    ULONG line = 0;
    LONG column = 0;
    if (error) {
        error->GetExceptionInfo(&info);
        error->GetSourcePosition(&context, &line, &column);
    }
    const std::wstring message = info.bstrDescription ? info.bstrDescription : L"(no description)";
    Log(L"script error: " + message + L" (line " + std::to_wstring(line + 1) + L")");
    if (m_pHost) m_pHost->ScriptError(message, line + 1);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    return S_OK;
}

STDMETHODIMP PageScript::GetWindow(HWND* hwnd)
{
    if (!hwnd) return E_POINTER;
    *hwnd = m_pHost ? m_pHost->Window() : nullptr;
    return S_OK;
}

}  // namespace standin
