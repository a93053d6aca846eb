// Resource identifiers shared by the resource script and the code.
#pragma once

#define IDD_WEB_DIALOG 102   // splash window
#define IDD_WEBC_DIALOG 130  // main launcher window
#define IDR_MAINFRAME 132    // application icon, 64 x 64
#define IDB_PNG_CLOSE 133       // close button picture, 70 x 70
#define IDB_PNG_BACKGROUND 134  // splash picture, 1600 x 896 with alpha
#define IDB_PNG_MINIMISE 149    // minimise button picture, 70 x 70
#define IDC_LAUNCHER_CURSOR 165 // the launcher's arrow, hot spot (7, 5)

// Controls of the main launcher window.
#define IDC_BTN_CLOSE 101
#define IDC_BTN_MINIMISE 102
#define IDC_PROGRESS 1000
#define IDC_DETAIL_TEXT 1001
#define IDC_PHASE_LABEL 1002
#define IDC_STATUS_LINE 1003
#define IDC_BROWSER 1005
