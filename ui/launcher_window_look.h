// What both launcher windows share: the application icon while minimised or dragged, and the
// launcher's own cursor over every part of them.
#pragma once
#include <windows.h>

// Handles paint-while-minimised, query-drag-icon and set-cursor for a launcher dialog; sets
// handled and returns the dialog procedure's result when it took the message.
INT_PTR HandleLauncherWindowLook(HWND hwnd, HICON icon, UINT msg, bool& handled);

// The application icon (resource 132) of the launcher's module.
HICON LoadLauncherIcon();
