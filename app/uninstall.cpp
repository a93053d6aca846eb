#include "app/web_app.h"
#include "diag/file_log.h"

void CWebApp::UnInstall()
{
    // Removing the game is not built yet: say so in the log and leave everything in place.
    LOG_ERROR("CWebApp::UnInstall", L"uninstall is not available in this build; nothing was removed");
}
