// Registers the launcher for the embedded browser's newest document mode.
#pragma once

class CWebBrowserHelper {
public:
    // Not yet built: leaves the browser's emulation values untouched.
    static void FixBrowserVersion();
};
