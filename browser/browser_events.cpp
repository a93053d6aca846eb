// The browser control's events on the main launcher window.
#include "browser/web_browser2.h"

#include <exdisp.h>
#include <exdispid.h>

#include "browser/shell_url_opener.h"

namespace {

// An event argument by position (last argument first), through a by-reference variant.
const VARIANT* Argument(const DISPPARAMS& params, UINT index)
{
    if (index >= params.cArgs || !params.rgvarg) return nullptr;
    const VARIANT* arg = &params.rgvarg[index];
    if (V_VT(arg) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(arg)) arg = V_VARIANTREF(arg);
    return arg;
}

IDispatch* DispatchArgument(const DISPPARAMS& params, UINT index)
{
    const VARIANT* arg = Argument(params, index);
    if (!arg) return nullptr;
    if (V_VT(arg) == VT_DISPATCH) return V_DISPATCH(arg);
    if (V_VT(arg) == (VT_BYREF | VT_DISPATCH) && V_DISPATCHREF(arg)) return *V_DISPATCHREF(arg);
    return nullptr;
}

const wchar_t* TextArgument(const DISPPARAMS& params, UINT index)
{
    const VARIANT* arg = Argument(params, index);
    if (!arg) return nullptr;
    if (V_VT(arg) == VT_BSTR) return V_BSTR(arg);
    if (V_VT(arg) == (VT_BYREF | VT_BSTR) && V_BSTRREF(arg)) return *V_BSTRREF(arg);
    return nullptr;
}

}  // namespace

void CWebBrowser2::OnControlEvent(DISPID event, DISPPARAMS& params)
{
    switch (event) {
    case DISPID_NEWWINDOW3: {
        // ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl: Cancel is the fourth from the end.
        const VARIANT* cancel = params.cArgs == 5 ? &params.rgvarg[3] : nullptr;
        if (cancel && V_VT(cancel) == (VT_BYREF | VT_BOOL))
            OnNewWindow3(V_BOOLREF(cancel), TextArgument(params, 0));
        break;
    }
    case DISPID_NAVIGATECOMPLETE2:
        OnNavigateComplete2(DispatchArgument(params, 1));
        break;
    case DISPID_DOCUMENTCOMPLETE:
        OnDocumentComplete(DispatchArgument(params, 1));
        break;
    default:
        break;
    }
}

void CWebBrowser2::OnNewWindow3(VARIANT_BOOL* cancel, const wchar_t* url)
{
    // Nothing opens inside the launcher: the player's default browser gets the address.
    *cancel = VARIANT_TRUE;
    if (url && *url) OpenUrlInDefaultBrowser(url);
}

// Each frame of a page navigates and completes with its own object before the page does, so
// the latest navigated object is a frame's on a framed page: the top-level document is known
// by the control's own object instead (DocumentComplete).
void CWebBrowser2::OnNavigateComplete2(IDispatch*) {}

void CWebBrowser2::OnDocumentComplete(IDispatch* frame)
{
    if (GetReadyState() >= kReadyStateComplete && IsTopLevel(frame)) ::ShowWindow(GetSafeHwnd(), SW_SHOW);
}
