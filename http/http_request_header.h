// What an HTTP request asks for, and what the engine learned from the response.
#pragma once
#include <windows.h>
#include <wininet.h>

#include <string>

// Copied into the request it describes.
struct FCHttpRequestHeader {
    FCHttpRequestHeader();  // fills in the system's browser user agent

    std::string m_strPostData;           // sent as the body when not empty
    int m_nVerb = 0;                     // 0 GET; 1, 2 POST; 3 DELETE; anything else GET
    std::wstring m_strUrl;               // full URL, scheme included
    int m_nStartOffset = 0;              // a positive offset asks for the entity from that byte on
    std::wstring m_strUserAgent;
    std::wstring m_strHeader;            // extra header lines, each ending in CR LF
    DWORD m_dwOpenFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
    int m_nTimeout = 0;                  // milliseconds; 0: the request never times out
    std::wstring m_strProxyIP;           // when not empty, the session goes through this proxy
    int m_nProxyPort = 80;
    std::wstring m_strProxyUsername;
    std::wstring m_strProxyPassword;
};

struct FCHttpResponseInfo {
    int m_nStatusCode = 0;          // 0 when the response gave none
    int m_nContentLength = 0;       // 0 when absent
    std::wstring m_strLastModified;
    std::wstring m_strServer;
    bool m_bReadOK = false;         // the body was read to its end
    HINTERNET m_hRequest = nullptr;  // the handle the fields were queried from
};
