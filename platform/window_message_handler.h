// The game platform's parameters on the launcher's command line, and the show-window message
// the launcher sends to the platform client's window when it is done.
#pragma once
#include <windows.h>

#include <string>

class CWindowMessageHandler {
public:
    static CWindowMessageHandler& Instance();

    // The value of the first token with this key, read afresh from the command line; "" if none.
    static std::wstring GetTaviParamFromCommandLine(const std::wstring& key);
    // Reads winid, token and source.
    void GetTaviTokenFromCommandLine();
    // Every parameter as one query string, led by "fileparam=" when the application name
    // carries a file parameter; settles m_strFileParam.
    std::wstring GetTaviUriFromCommandLine();
    // Sends WM_COPYDATA with the fixed payload to the window named by winid; nothing without one.
    void SendShowWindowMessage(HWND window);

    const std::wstring& FileParam() const { return m_strFileParam; }

    CWindowMessageHandler(const CWindowMessageHandler&) = delete;
    CWindowMessageHandler& operator=(const CWindowMessageHandler&) = delete;

private:
    CWindowMessageHandler() = default;

    int m_nType = 1;
    bool m_bParsed = false;
    std::wstring m_strWinId;
    std::wstring m_strToken;
    std::wstring m_strSource;
    std::wstring m_strFileParam;
};
