#include "browser/script_bridge_ends.h"

#include "fw/app.h"
#include "fw/dialog.h"

IDispatch* ApplicationPageExternal()
{
    const auto* owner = dynamic_cast<const IPageExternalOwner*>(fw::GetApp());
    return owner ? owner->PageExternal() : nullptr;
}

IPageCallTarget* MainWindowPageCallTarget()
{
    const fw::CWinApp* app = fw::GetApp();
    return dynamic_cast<IPageCallTarget*>(fw::CDialog::FromHandle(app ? app->MainWindow() : nullptr));
}
