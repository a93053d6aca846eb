// The splash window, run modally for the launcher's whole visible life. This first version is
// a plain dialog with the game's name: the picture, the main launcher window and the update
// thread come with the window layer.
#pragma once
#include "fw/dialog.h"

class CWebDlg : public fw::CDialog {
public:
    explicit CWebDlg(HWND parent = nullptr);

protected:
    BOOL OnInitDialog() override;
};
