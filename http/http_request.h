// One HTTP exchange from URL to received body that never blocks the thread owning it: the
// blocking WinInet calls run on two short-lived workers (connect, then send and read), and
// each worker ends its part by posting the request event message to the owner's hidden
// window, where the owner runs the next step.
#pragma once
#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <string>

#include "fw/win_handle.h"
#include "http/http_request_header.h"
#include "http/receive_buffer.h"

// Posted by the workers to the owner window: wParam the request id, lParam the stage.
constexpr UINT kHttpRequestEventMessage = WM_APP + 0x30;
enum HttpRequestStage : int {
    kStageConnected = 0,    // connecting finished, successfully or not
    kStageHeadersReady = 1, // the request was sent, successfully or not
    kStageReadDone = 2,     // the body is complete or reading failed
};

class FCHttpRequest {
public:
    // Opens the session and starts the connect worker; with a timeout, also starts a timer
    // with the request's id on the owner window. Call on the owner window's thread.
    FCHttpRequest(int requestId, HWND ownerWindow, const FCHttpRequestHeader& header);
    virtual ~FCHttpRequest();
    FCHttpRequest(const FCHttpRequest&) = delete;
    FCHttpRequest& operator=(const FCHttpRequest&) = delete;

    // Stage 0, on the owner thread: opens the HTTP request and starts the send worker.
    void OnConnected();
    // Stage 1, on the owner thread: fills the response info.
    void OnHeadersReady();
    // Unblocks a worker that still runs by closing the handle it works on, and returns that
    // worker's thread handle (owned by the request) or null when none runs.
    HANDLE Abort();
    // True when neither worker runs any more (or was ever started).
    bool HasWorkersEnded() const;
    // Blocks until both workers have ended.
    void WaitForWorkers() const;
    // The owner window is going away: the request no longer touches it.
    void DetachFromOwner() { m_hOwnerWnd.store(nullptr); }

    int GetRequestID() const { return m_nRequestID; }
    const FCHttpRequestHeader& GetRequestHeader() const { return m_header; }
    const FCHttpResponseInfo& GetResponseInfo() const { return m_response; }
    int GetTotalReceiveByte() const { return m_nTotalReceive.load(); }
    // A copy of the bytes received so far, taken under the receive buffer's lock.
    std::string GetReceivedBytes() { return m_buffer.Copy(); }
    // True when the connect stage produced a connection handle.
    bool HasConnection() const { return m_hConnect.load() != nullptr; }
    // The port the request connects to (from the URL, else the scheme's default).
    INTERNET_PORT GetPort() const { return m_nPort; }
    // Why an https request was never sent (its server's certificate refused), "" otherwise.
    // Written by the connect worker before stage 0: read it from stage 0 on.
    const std::wstring& GetCertificateRefusal() const { return m_strCertificateRefusal; }

private:
    static DWORD WINAPI ConnectWorker(void* request);
    static DWORD WINAPI SendWorker(void* request);
    void Post(HttpRequestStage stage);
    static bool IsRunning(const fw::UniqueHandle& thread);

    int m_nRequestID;
    std::atomic<HWND> m_hOwnerWnd;  // read by the workers when they post
    FCHttpRequestHeader m_header;
    int m_nScheme = INTERNET_SCHEME_HTTP;
    std::wstring m_strHost;
    std::wstring m_strObject;  // path and query string
    INTERNET_PORT m_nPort = INTERNET_DEFAULT_HTTP_PORT;
    FCHttpResponseInfo m_response;
    std::wstring m_strCertificateRefusal;
    inner::CReceiveBuffer m_buffer;
    std::atomic<int> m_nTotalReceive{0};
    // A worker reads these before each call while the owner may close and clear them to
    // cut the worker short, hence atomic rather than owning wrappers.
    std::atomic<HINTERNET> m_hSession{nullptr};
    std::atomic<HINTERNET> m_hConnect{nullptr};
    std::atomic<HINTERNET> m_hRequest{nullptr};
    fw::UniqueHandle m_hConnectThread;
    fw::UniqueHandle m_hSendThread;
};
