#include "browser/shell_url_opener.h"

#include <exdisp.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <servprov.h>

#include <cwchar>

#include "diag/file_log.h"
#include "fw/com_ptr.h"

namespace {

// The desktop folder view's automation object, which offers the shell's own dispatch.
HRESULT DesktopShellDispatch(fw::ComPtr<IShellDispatch2>& shell)
{
    fw::ComPtr<IShellWindows> windows;
    HRESULT hr = ::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_ALL, IID_IShellWindows, windows.put_void());
    if (FAILED(hr)) return hr;
    VARIANT location, root;
    ::VariantInit(&location);
    ::VariantInit(&root);
    V_VT(&location) = VT_I4;
    V_I4(&location) = CSIDL_DESKTOP;
    long hwnd = 0;
    fw::ComPtr<IDispatch> desktop;
    hr = windows->FindWindowSW(&location, &root, SWC_DESKTOP, &hwnd, SWFO_NEEDDISPATCH, desktop.put());
    if (hr != S_OK || !desktop) return FAILED(hr) ? hr : E_FAIL;  // S_FALSE: no desktop window

    fw::ComPtr<IServiceProvider> services;
    fw::ComPtr<IShellBrowser> browser;
    fw::ComPtr<IShellView> view;
    fw::ComPtr<IDispatch> background;
    fw::ComPtr<IShellFolderViewDual> folderView;
    fw::ComPtr<IDispatch> application;
    if (FAILED(hr = desktop->QueryInterface(IID_IServiceProvider, services.put_void())) ||
        FAILED(hr = services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.put_void())) ||
        FAILED(hr = browser->QueryActiveShellView(view.put())) ||
        FAILED(hr = view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.put_void())) ||
        FAILED(hr = background->QueryInterface(IID_IShellFolderViewDual, folderView.put_void())) ||
        FAILED(hr = folderView->get_Application(application.put())))
        return hr;
    if (!application) return E_NOINTERFACE;
    return application->QueryInterface(IID_IShellDispatch2, shell.put_void());
}

std::wstring Hex(HRESULT hr)
{
    wchar_t text[16];
    std::swprintf(text, sizeof text / sizeof text[0], L"0x%08lx", static_cast<unsigned long>(hr));
    return text;
}

}  // namespace

bool IsWebAddress(const std::wstring& url)
{
    // The whole text is parsed as it will be handed on: no blanks trimmed, no repair.
    PARSEDURLW parsed{};
    parsed.cbSize = sizeof parsed;
    if (url.empty() || FAILED(::ParseURLW(url.c_str(), &parsed))) return false;
    return parsed.nScheme == URL_SCHEME_HTTP || parsed.nScheme == URL_SCHEME_HTTPS;
}

HRESULT OpenThroughDesktopShell(const std::wstring& url)
{
    fw::ComPtr<IShellDispatch2> shell;
    HRESULT hr = DesktopShellDispatch(shell);
    if (FAILED(hr)) return hr;
    // No parameters, no directory, no verb (the default one), shown normally.
    VARIANT none, show;
    ::VariantInit(&none);
    ::VariantInit(&show);
    V_VT(&show) = VT_I4;
    V_I4(&show) = SW_SHOWNORMAL;
    fw::Bstr file(url.c_str());
    return shell->ShellExecute(file.get(), none, none, none, show);
}

UrlOpenedBy OpenUrlInDefaultBrowser(const std::wstring& url, DesktopShellRoute desktopShell)
{
    if (!IsWebAddress(url)) {
        LOG_ERROR("CWebBrowser2::OnNewWindow3", L"not an http or https address, dropped: " + url);
        return UrlOpenedBy::Nobody;
    }
    const HRESULT hr = desktopShell ? desktopShell(url) : E_NOTIMPL;
    if (SUCCEEDED(hr)) {
        LOG_INFO("CWebBrowser2::OnNewWindow3", L"opened by the desktop shell: " + url);
        return UrlOpenedBy::DesktopShell;
    }
    // No desktop shell to ask (none runs, or it offers no automation): the launcher's own call.
    LOG_INFO("CWebBrowser2::OnNewWindow3", L"no desktop shell to open it (" + Hex(hr) + L"), opened by the launcher: " + url);
    const auto result = reinterpret_cast<INT_PTR>(::ShellExecuteW(nullptr, nullptr, url.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result > 32) return UrlOpenedBy::Launcher;
    LOG_ERROR("CWebBrowser2::OnNewWindow3", L"ShellExecute error " + std::to_wstring(result) + L": " + url);
    return UrlOpenedBy::Nobody;
}
