#include "browser/web_browser_helper.h"

void CWebBrowserHelper::FixBrowserVersion()
{
    // The emulation values are written once the browser host exists; until then the embedded
    // browser keeps the system's default mode.
}
