// Runs any number of HTTP requests side by side and turns their worker events into calls on
// one thread: the thread that created the manager, through a hidden message-only window
// that this thread's message loop serves. A client derives from it and overrides the hooks.
#pragma once
#include <windows.h>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>

#include "http/http_request.h"

class FCHttpRequestManager {
public:
    // Creates the hidden window on the calling thread, whose message loop must then run for
    // requests to advance.
    FCHttpRequestManager();
    // Cuts the workers short and waits for them at most m_dwShutdownWait in total; a request
    // whose worker still runs after that is destroyed by a background thread once the worker
    // has ended, never while the worker can still touch it.
    virtual ~FCHttpRequestManager();
    FCHttpRequestManager(const FCHttpRequestManager&) = delete;
    FCHttpRequestManager& operator=(const FCHttpRequestManager&) = delete;

    // Starts a request and returns its id (100, 101, …). From any thread: a request started
    // on another thread is handed over to the manager's thread and created there.
    int StartRequest(const FCHttpRequestHeader& header);
    // The running request with this id, or null. Manager thread only.
    FCHttpRequest* FindRunning(int requestId) const;
    // Aborts a running request and parks it until its workers have ended. Manager thread only.
    void RemoveRequest(int requestId);
    // Destroys parked requests whose workers have ended; stops the sweep timer when nothing
    // is left.
    void SweepFinished();

protected:
    // Called on the manager's thread; the request must not be kept beyond the call.
    virtual void OnResponseHeaders(FCHttpRequest& request) { (void)request; }
    virtual void OnRequestComplete(FCHttpRequest& request) { (void)request; }
    virtual void OnRequestTimeout(FCHttpRequest& request) { (void)request; }

    std::deque<std::unique_ptr<FCHttpRequest>> m_runningList;   // in order of creation
    std::deque<std::unique_ptr<FCHttpRequest>> m_finishedList;  // removed, waiting for their workers
    HWND m_hWnd = nullptr;
    DWORD m_dwShutdownWait = 3000;
    std::atomic<int> m_nNextRequestID{100};  // never 30, the sweep timer's id

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void OnRequestEvent(int requestId, int stage);
    void OnTimer(UINT_PTR timerId);
    void CreateRequest(int requestId, const FCHttpRequestHeader& header);
    void CreateHandedOverRequests();

    DWORD m_dwThreadId;
    // Requests started on other threads, waiting to be created on the manager's thread.
    std::mutex m_handOverLock;
    std::deque<std::pair<int, FCHttpRequestHeader>> m_handOver;
};
