// Resource identifiers shared by the resource script and the code.
#pragma once

#define IDD_WEB_DIALOG 102   // splash window
#define IDD_WEBC_DIALOG 130  // main launcher window
#define IDR_MAINFRAME 132    // application icon
#define IDC_PLACEHOLDER_TEXT 1001
