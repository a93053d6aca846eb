#include "http/http_request.h"

#include <new>
#include <vector>

#include "core/http/http_request_rules.h"
#include "http/server_certificate.h"

namespace {

constexpr DWORD kReadChunkBytes = 8192;
// The host and path buffers are this much longer than the URL.
constexpr DWORD kUrlPartSlack = 8;
// The certificate check's own handshake gets as long as a connection does.
constexpr long kCertificateCheckSeconds = 30;

void CloseAndClear(std::atomic<HINTERNET>& handle)
{
    if (HINTERNET h = handle.exchange(nullptr)) ::InternetCloseHandle(h);
}

// The text of one response header, "" when it is absent or cannot be read.
std::wstring QueryHeaderText(HINTERNET request, DWORD info)
{
    DWORD size = 0;
    ::HttpQueryInfoW(request, info, nullptr, &size, nullptr);
    if (size == 0) return {};
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 2, L'\0');
    DWORD bytes = size;
    if (!::HttpQueryInfoW(request, info, text.data(), &bytes, nullptr)) return {};
    return std::wstring(text.data());
}

}  // namespace

FCHttpRequest::FCHttpRequest(int requestId, HWND ownerWindow, const FCHttpRequestHeader& header)
    : m_nRequestID(requestId), m_hOwnerWnd(ownerWindow), m_header(header)
{
    const DWORD partLength = static_cast<DWORD>(m_header.m_strUrl.size()) + kUrlPartSlack;
    std::vector<wchar_t> host(partLength, L'\0'), path(partLength, L'\0');
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host.data();
    parts.dwHostNameLength = partLength;
    parts.lpszUrlPath = path.data();  // with no extra-information part asked for, the query stays in the path
    parts.dwUrlPathLength = partLength;
    if (::InternetCrackUrlW(m_header.m_strUrl.c_str(), static_cast<DWORD>(m_header.m_strUrl.size()), 0, &parts)) {
        m_nScheme = parts.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_SCHEME_HTTPS : INTERNET_SCHEME_HTTP;
        m_strHost = host.data();
        m_strObject = path.data();
        // The URL's port is honoured (the parser gives the scheme's default when none is
        // written): a report to a statistics server on another port must reach that server.
        m_nPort = parts.nPort ? parts.nPort
                              : (m_nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_DEFAULT_HTTPS_PORT
                                                                    : INTERNET_DEFAULT_HTTP_PORT);
    }

    if (!m_header.m_strProxyIP.empty()) {
        const std::wstring proxy = m_header.m_strProxyIP + L":" + std::to_wstring(m_header.m_nProxyPort);
        m_hSession = ::InternetOpenW(m_header.m_strUserAgent.c_str(), INTERNET_OPEN_TYPE_PROXY, proxy.c_str(),
                                     nullptr, 0);
    } else {
        m_hSession = ::InternetOpenW(m_header.m_strUserAgent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                     nullptr, 0);
    }
    if (HINTERNET session = m_hSession.load()) {
        if (!m_header.m_strProxyUsername.empty())
            ::InternetSetOptionW(session, INTERNET_OPTION_PROXY_USERNAME,
                                 const_cast<wchar_t*>(m_header.m_strProxyUsername.c_str()),
                                 static_cast<DWORD>(m_header.m_strProxyUsername.size()));
        if (!m_header.m_strProxyPassword.empty())
            ::InternetSetOptionW(session, INTERNET_OPTION_PROXY_PASSWORD,
                                 const_cast<wchar_t*>(m_header.m_strProxyPassword.c_str()),
                                 static_cast<DWORD>(m_header.m_strProxyPassword.size()));
    }

    m_hConnectThread.reset(::CreateThread(nullptr, 0, ConnectWorker, this, 0, nullptr));
    if (!m_hConnectThread) Post(kStageConnected);  // no worker: the stages still run, with no connection
    if (m_header.m_nTimeout != 0 && ownerWindow)
        ::SetTimer(ownerWindow, static_cast<UINT_PTR>(m_nRequestID), static_cast<UINT>(m_header.m_nTimeout), nullptr);
}

FCHttpRequest::~FCHttpRequest()
{
    if (HWND owner = m_hOwnerWnd.load()) ::KillTimer(owner, static_cast<UINT_PTR>(m_nRequestID));
    CloseAndClear(m_hRequest);
    CloseAndClear(m_hConnect);
    CloseAndClear(m_hSession);
    m_hSendThread.reset();
    m_hConnectThread.reset();
}

void FCHttpRequest::Post(HttpRequestStage stage)
{
    if (HWND owner = m_hOwnerWnd.load())
        ::PostMessageW(owner, kHttpRequestEventMessage, static_cast<WPARAM>(m_nRequestID),
                       static_cast<LPARAM>(stage));
}

DWORD WINAPI FCHttpRequest::ConnectWorker(void* param)
{
    auto* request = static_cast<FCHttpRequest*>(param);
    // WinInet hands out a connection's certificate only once the request has been sent, and a
    // report's data is its request line. So the server is checked over a handshake of its own
    // first, and a refused one gets no connection: the request fails unsent.
    if (request->m_nScheme == INTERNET_SCHEME_HTTPS) {
        const core::CertificateCheck check =
            CheckTlsServer(request->m_strHost, request->m_nPort, kCertificateCheckSeconds);
        if (!check.IsTrusted()) {
            request->m_strCertificateRefusal = core::DescribeCertificateRefusal(request->m_strHost, check);
            request->Post(kStageConnected);
            return 0;
        }
    }
    request->m_hConnect = ::InternetConnectW(request->m_hSession.load(), request->m_strHost.c_str(),
                                             request->m_nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    // The last touch of the request: once posted, the owner may close this thread's handle.
    request->Post(kStageConnected);
    return 0;
}

void FCHttpRequest::OnConnected()
{
    m_hConnectThread.reset();
    if (m_nScheme == INTERNET_SCHEME_HTTPS) m_header.m_dwOpenFlags |= INTERNET_FLAG_SECURE;
    m_hRequest = ::HttpOpenRequestW(m_hConnect.load(), core::HttpVerbText(m_header.m_nVerb), m_strObject.c_str(),
                                    nullptr, nullptr, nullptr, m_header.m_dwOpenFlags, 0);
    m_hSendThread.reset(::CreateThread(nullptr, 0, SendWorker, this, 0, nullptr));
    if (!m_hSendThread) {
        // No worker to send or read: the remaining stages still arrive, as a failure.
        Post(kStageHeadersReady);
        m_response.m_bReadOK = false;
        Post(kStageReadDone);
    }
}

DWORD WINAPI FCHttpRequest::SendWorker(void* param)
{
    auto* request = static_cast<FCHttpRequest*>(param);
    const FCHttpRequestHeader& header = request->m_header;
    const std::wstring headers = core::HttpRequestHeaderLines(header.m_strHeader, header.m_nStartOffset);
    const bool hasBody = !header.m_strPostData.empty();
    const BOOL sent = ::HttpSendRequestW(request->m_hRequest.load(), headers.empty() ? nullptr : headers.c_str(),
                                         static_cast<DWORD>(headers.size()),
                                         hasBody ? const_cast<char*>(header.m_strPostData.data()) : nullptr,
                                         hasBody ? static_cast<DWORD>(header.m_strPostData.size()) : 0);
    request->Post(kStageHeadersReady);

    std::vector<char> chunk(kReadChunkBytes);
    bool readOk = false;
    // A request that was never sent has no body to read. Some WinInet versions answer a read
    // on it with success and 0 bytes, which would report the failure as a complete body.
    for (; sent;) {
        DWORD got = 0;
        // Re-read the handle each time: an abort closes and clears it.
        if (!::InternetReadFile(request->m_hRequest.load(), chunk.data(), kReadChunkBytes, &got)) {
            readOk = false;
            break;
        }
        if (got == 0) {
            readOk = true;
            break;
        }
        try {
            request->m_buffer.Append(chunk.data(), got);
        } catch (const std::bad_alloc&) {
            // A body larger than the process can hold ends the read as a failure instead of
            // ending the process.
            readOk = false;
            break;
        }
        request->m_nTotalReceive.fetch_add(static_cast<int>(got));
    }
    request->m_response.m_bReadOK = readOk;
    request->Post(kStageReadDone);
    return 0;
}

void FCHttpRequest::OnHeadersReady()
{
    HINTERNET request = m_hRequest.load();
    m_response.m_hRequest = request;
    if (!request) return;
    m_response.m_nStatusCode = core::ParseHeaderNumber(QueryHeaderText(request, HTTP_QUERY_STATUS_CODE));
    m_response.m_nContentLength = core::ParseHeaderNumber(QueryHeaderText(request, HTTP_QUERY_CONTENT_LENGTH));
    m_response.m_strLastModified = QueryHeaderText(request, HTTP_QUERY_LAST_MODIFIED);
    m_response.m_strServer = QueryHeaderText(request, HTTP_QUERY_SERVER);
}

bool FCHttpRequest::IsRunning(const fw::UniqueHandle& thread)
{
    return thread && ::WaitForSingleObject(thread.get(), 0) == WAIT_TIMEOUT;
}

HANDLE FCHttpRequest::Abort()
{
    if (IsRunning(m_hSendThread)) {
        CloseAndClear(m_hRequest);
        return m_hSendThread.get();
    }
    if (IsRunning(m_hConnectThread)) {
        CloseAndClear(m_hSession);
        return m_hConnectThread.get();
    }
    return nullptr;
}

bool FCHttpRequest::HasWorkersEnded() const { return !IsRunning(m_hConnectThread) && !IsRunning(m_hSendThread); }

void FCHttpRequest::WaitForWorkers() const
{
    if (m_hConnectThread) ::WaitForSingleObject(m_hConnectThread.get(), INFINITE);
    if (m_hSendThread) ::WaitForSingleObject(m_hSendThread.get(), INFINITE);
}
