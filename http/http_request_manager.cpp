#include "http/http_request_manager.h"

#include <algorithm>
#include <vector>

namespace {

const wchar_t kWindowClass[] = L"brelwin_http_event_wnd";
constexpr UINT_PTR kSweepTimerId = 30;
constexpr UINT kSweepPeriodMs = 100;
// Tells the hidden window that requests started on other threads wait to be created.
constexpr UINT kHandOverMessage = WM_APP + 0x31;

// Waits until every handle is signalled or the time is up. WaitForMultipleObjects takes at
// most MAXIMUM_WAIT_OBJECTS handles, so larger sets are waited for group by group against
// one common deadline.
void WaitForAllWithin(const std::vector<HANDLE>& handles, DWORD totalMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + totalMs;
    for (std::size_t first = 0; first < handles.size(); first += MAXIMUM_WAIT_OBJECTS) {
        const DWORD count = static_cast<DWORD>(std::min<std::size_t>(MAXIMUM_WAIT_OBJECTS, handles.size() - first));
        const ULONGLONG now = ::GetTickCount64();
        const DWORD remaining = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        ::WaitForMultipleObjects(count, &handles[first], TRUE, remaining);
    }
}

// Destroys requests once their workers have ended, however long that takes.
DWORD WINAPI DestroyWhenWorkersEnd(void* param)
{
    std::unique_ptr<std::vector<std::unique_ptr<FCHttpRequest>>> requests(
        static_cast<std::vector<std::unique_ptr<FCHttpRequest>>*>(param));
    for (auto& request : *requests) request->WaitForWorkers();
    return 0;
}

}  // namespace

FCHttpRequestManager::FCHttpRequestManager() : m_dwThreadId(::GetCurrentThreadId())
{
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kWindowClass;
    ::RegisterClassW(&wc);  // fails harmlessly when an earlier manager registered it
    m_hWnd = ::CreateWindowExW(0, kWindowClass, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    if (m_hWnd) ::SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

FCHttpRequestManager::~FCHttpRequestManager()
{
    if (m_hWnd) {
        ::SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
        ::DestroyWindow(m_hWnd);
        m_hWnd = nullptr;
    }
    std::vector<HANDLE> workers;
    for (auto* list : {&m_runningList, &m_finishedList})
        for (auto& request : *list) {
            request->DetachFromOwner();
            if (HANDLE worker = request->Abort())
                if (std::find(workers.begin(), workers.end(), worker) == workers.end()) workers.push_back(worker);
        }
    if (!workers.empty()) WaitForAllWithin(workers, m_dwShutdownWait);

    auto stragglers = std::make_unique<std::vector<std::unique_ptr<FCHttpRequest>>>();
    for (auto* list : {&m_runningList, &m_finishedList}) {
        for (auto& request : *list)
            if (!request->HasWorkersEnded()) stragglers->push_back(std::move(request));
        list->clear();  // destroys the requests whose workers have ended
    }
    if (!stragglers->empty()) {
        // Their workers may still touch them: a background thread destroys them once the
        // workers end, or the process exit ends everything. Without that thread they stay
        // alive, which is safe.
        HANDLE reaper = ::CreateThread(nullptr, 0, DestroyWhenWorkersEnd, stragglers.get(), 0, nullptr);
        if (reaper) {
            stragglers.release();
            ::CloseHandle(reaper);
        } else {
            for (auto& request : *stragglers) request.release();
        }
    }
}

int FCHttpRequestManager::StartRequest(const FCHttpRequestHeader& header)
{
    const int requestId = m_nNextRequestID.fetch_add(1);
    // Without its window the manager can neither time nor finish a request: none is started.
    if (!m_hWnd) return requestId;
    if (::GetCurrentThreadId() == m_dwThreadId) {
        CreateRequest(requestId, header);
    } else {
        // The lists and the window's timers belong to the manager's thread.
        {
            std::lock_guard<std::mutex> lock(m_handOverLock);
            m_handOver.emplace_back(requestId, header);
        }
        ::PostMessageW(m_hWnd, kHandOverMessage, 0, 0);
    }
    return requestId;
}

void FCHttpRequestManager::CreateRequest(int requestId, const FCHttpRequestHeader& header)
{
    ::SetTimer(m_hWnd, kSweepTimerId, kSweepPeriodMs, nullptr);
    m_runningList.push_back(std::make_unique<FCHttpRequest>(requestId, m_hWnd, header));
}

void FCHttpRequestManager::CreateHandedOverRequests()
{
    std::deque<std::pair<int, FCHttpRequestHeader>> waiting;
    {
        std::lock_guard<std::mutex> lock(m_handOverLock);
        waiting.swap(m_handOver);
    }
    for (const auto& entry : waiting) CreateRequest(entry.first, entry.second);
}

FCHttpRequest* FCHttpRequestManager::FindRunning(int requestId) const
{
    for (const auto& request : m_runningList)
        if (request->GetRequestID() == requestId) return request.get();
    return nullptr;
}

void FCHttpRequestManager::RemoveRequest(int requestId)
{
    const auto it = std::find_if(m_runningList.begin(), m_runningList.end(),
                                 [requestId](const auto& request) { return request->GetRequestID() == requestId; });
    if (it == m_runningList.end()) return;
    (*it)->Abort();
    m_finishedList.push_back(std::move(*it));
    m_runningList.erase(it);
}

void FCHttpRequestManager::SweepFinished()
{
    if (m_runningList.empty() && m_finishedList.empty()) {
        ::KillTimer(m_hWnd, kSweepTimerId);
        return;
    }
    for (;;) {
        const auto done = std::find_if(m_finishedList.begin(), m_finishedList.end(),
                                       [](const auto& request) { return request->HasWorkersEnded(); });
        if (done == m_finishedList.end()) return;
        m_finishedList.erase(done);
    }
}

void FCHttpRequestManager::OnTimer(UINT_PTR timerId)
{
    if (timerId == kSweepTimerId) {
        SweepFinished();
        return;
    }
    ::KillTimer(m_hWnd, timerId);
    const int requestId = static_cast<int>(timerId);
    if (FCHttpRequest* request = FindRunning(requestId)) {
        OnRequestTimeout(*request);
        RemoveRequest(requestId);
    }
}

void FCHttpRequestManager::OnRequestEvent(int requestId, int stage)
{
    FCHttpRequest* request = FindRunning(requestId);
    if (!request) return;  // removed in the meantime
    switch (stage) {
    case kStageConnected:
        request->OnConnected();
        break;
    case kStageHeadersReady:
        request->OnHeadersReady();
        OnResponseHeaders(*request);
        break;
    case kStageReadDone:
        OnRequestComplete(*request);
        RemoveRequest(requestId);
        break;
    default:
        break;
    }
}

LRESULT CALLBACK FCHttpRequestManager::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto* manager = reinterpret_cast<FCHttpRequestManager*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!manager) return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    switch (msg) {
    case WM_TIMER:
        manager->OnTimer(wParam);
        return 0;
    case kHttpRequestEventMessage:
        manager->OnRequestEvent(static_cast<int>(wParam), static_cast<int>(lParam));
        return 0;
    case kHandOverMessage:
        manager->CreateHandedOverRequests();
        return 0;
    default:
        return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}
