// The WinInet request engine against servers on loopback that run_with_test_servers.py
// starts: a whole body, failures travelling through every stage, timeouts and the sweep,
// request ids, the bounded shutdown and requests started on another thread.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <regex>
#include <string>
#include <vector>

#include "http/http_request_manager.h"
#include "tests/win/win_test_support.h"

namespace {

constexpr int kBlobSize = 3 * 1024 * 1024;

int ChannelPort() { return wintest::PortFromEnvironment(L"LAUNCHER_TEST_CHANNEL_PORT"); }

std::wstring ChannelUrl(const std::wstring& path) { return wintest::LoopbackUrl(ChannelPort(), path); }

// A manager that remembers what its hooks saw.
class RecordingManager : public FCHttpRequestManager {
public:
    struct Completion {
        int id;
        int status;
        int contentLength;
        bool readOk;
        int totalReceived;
        std::string body;
    };

    std::vector<Completion> completed;
    std::vector<int> headersSeen;
    std::vector<int> timedOut;

    bool Idle() const { return m_runningList.empty() && m_finishedList.empty(); }
    const Completion* Find(int id) const
    {
        for (const Completion& c : completed)
            if (c.id == id) return &c;
        return nullptr;
    }

protected:
    void OnResponseHeaders(FCHttpRequest& request) override { headersSeen.push_back(request.GetRequestID()); }
    void OnRequestComplete(FCHttpRequest& request) override
    {
        const FCHttpResponseInfo& info = request.GetResponseInfo();
        completed.push_back({request.GetRequestID(), info.m_nStatusCode, info.m_nContentLength, info.m_bReadOK,
                             request.GetTotalReceiveByte(), request.GetReceivedBytes()});
    }
    void OnRequestTimeout(FCHttpRequest& request) override { timedOut.push_back(request.GetRequestID()); }
};

FCHttpRequestHeader Get(const std::wstring& url)
{
    FCHttpRequestHeader header;
    header.m_strUrl = url;
    return header;
}

// The body of a request through the engine; "" when it does not complete within a minute.
std::string Fetch(const FCHttpRequestHeader& header)
{
    RecordingManager manager;
    const int id = manager.StartRequest(header);
    if (!wintest::PumpMessagesUntil([&] { return manager.Find(id) != nullptr; }, 60000)) return {};
    return manager.Find(id)->body;
}

std::string Fetch(const std::wstring& url) { return Fetch(Get(url)); }

// Makes /slow/stall.bin answer its headers and then stay silent for 3 s. Set by each test
// that needs it: other tests of the run may clear the server's faults.
void SetStallFault()
{
    FCHttpRequestHeader header = Get(ChannelUrl(L"/_control/faults/set"));
    header.m_nVerb = 1;
    header.m_strPostData = R"({"path": "/slow/stall.bin", "stall_after": 0, "stall_seconds": 3})";
    ASSERT_NE(Fetch(header).find("stall_seconds"), std::string::npos);
}

class HttpEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(ChannelPort(), 0) << "run through tests/support/run_with_test_servers.py";
    }
};

TEST_F(HttpEngine, ThreeMegabyteBodyArrivesWhole)
{
    RecordingManager manager;
    const int id = manager.StartRequest(Get(ChannelUrl(L"/blob/3mb.bin")));
    ASSERT_TRUE(wintest::PumpMessagesUntil([&] { return manager.Find(id) != nullptr; }, 60000));
    const RecordingManager::Completion& done = *manager.Find(id);
    EXPECT_EQ(done.status, 200);
    EXPECT_EQ(done.contentLength, kBlobSize);
    EXPECT_TRUE(done.readOk);
    EXPECT_EQ(done.totalReceived, kBlobSize);
    ASSERT_EQ(done.body.size(), static_cast<size_t>(kBlobSize));
    for (int i = 0; i < kBlobSize; ++i)
        if (static_cast<unsigned char>(done.body[i]) != i % 251) FAIL() << "byte " << i << " differs";
    EXPECT_EQ(manager.headersSeen, std::vector<int>{id});
    // Finished requests are swept once their workers have ended.
    EXPECT_TRUE(wintest::PumpMessagesUntil([&] { return manager.Idle(); }, 10000));
}

TEST_F(HttpEngine, IdsStartAtOneHundredAndGrowByOne)
{
    RecordingManager manager;
    const int first = manager.StartRequest(Get(ChannelUrl(L"/blob/small.txt")));
    const int second = manager.StartRequest(Get(ChannelUrl(L"/blob/small.txt")));
    EXPECT_EQ(first, 100);
    EXPECT_EQ(second, 101);
    ASSERT_TRUE(wintest::PumpMessagesUntil([&] { return manager.completed.size() == 2; }, 30000));
    EXPECT_EQ(manager.Find(first)->body, "hello from the channel\n");
    EXPECT_EQ(manager.Find(second)->body, "hello from the channel\n");
}

TEST_F(HttpEngine, OffsetQueryAndVerbReachTheServer)
{
    FCHttpRequestHeader ranged = Get(ChannelUrl(L"/blob/3mb.bin?x=1&y=%20z"));
    ranged.m_nStartOffset = 1000;
    ranged.m_strHeader = L"X-Launcher-Test: ranged\r\n";
    FCHttpRequestHeader post = Get(ChannelUrl(L"/blob/small.txt?verb=2"));
    post.m_nVerb = 2;
    post.m_strPostData = "payload";
    FCHttpRequestHeader other = Get(ChannelUrl(L"/blob/small.txt?verb=7"));
    other.m_nVerb = 7;

    RecordingManager manager;
    const int rangedId = manager.StartRequest(ranged);
    manager.StartRequest(post);
    manager.StartRequest(other);
    ASSERT_TRUE(wintest::PumpMessagesUntil([&] { return manager.completed.size() == 3; }, 60000));

    const RecordingManager::Completion& part = *manager.Find(rangedId);
    EXPECT_EQ(part.status, 206);
    ASSERT_EQ(part.body.size(), static_cast<size_t>(kBlobSize - 1000));
    EXPECT_EQ(static_cast<unsigned char>(part.body[0]), 1000 % 251);

    const std::string log = Fetch(ChannelUrl(L"/_control/requests"));
    EXPECT_NE(log.find(R"("method": "GET", "path": "/blob/3mb.bin", "query": "x=1&y=%20z", "range": "bytes=1000-")"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(R"(["X-Launcher-Test", "ranged"])"), std::string::npos) << log;
    // The session's agent is the system browser's user agent.
    EXPECT_NE(log.find(R"(["User-Agent", "Mozilla/)"), std::string::npos) << log;
    EXPECT_NE(log.find(R"("method": "POST", "path": "/blob/small.txt", "query": "verb=2")"), std::string::npos) << log;
    EXPECT_NE(log.find(R"("method": "GET", "path": "/blob/small.txt", "query": "verb=7")"), std::string::npos) << log;
}

TEST_F(HttpEngine, ProxySessionSendsTheRequestToTheProxy)
{
    // The channel server plays the proxy: it receives the absolute URL of a host that is never
    // contacted, and answers 404 because it serves no such path.
    FCHttpRequestHeader header = Get(L"http://proxied.launcher.invalid/blob/small.txt?via=proxy");
    header.m_strProxyIP = L"127.0.0.1";
    header.m_nProxyPort = ChannelPort();
    RecordingManager manager;
    const int id = manager.StartRequest(header);
    ASSERT_TRUE(wintest::PumpMessagesUntil([&] { return manager.Find(id) != nullptr; }, 30000));
    EXPECT_EQ(manager.Find(id)->status, 404);
    const std::string log = Fetch(ChannelUrl(L"/_control/requests"));
    EXPECT_TRUE(std::regex_search(
        log, std::regex(R"re("path": "http://proxied\.launcher\.invalid(:80)?/blob/small\.txt", "query": "via=proxy")re")))
        << log;
}

TEST_F(HttpEngine, SweepResumesForRequestsStartedAfterAnIdleSpell)
{
    RecordingManager manager;
    manager.StartRequest(Get(ChannelUrl(L"/blob/small.txt")));
    ASSERT_TRUE(wintest::PumpMessagesUntil([&] { return manager.Idle(); }, 30000));
    wintest::PumpMessagesFor(300);  // the sweep timer stops once nothing is left
    const int later = manager.StartRequest(Get(ChannelUrl(L"/blob/small.txt")));
    EXPECT_EQ(later, 101);
    ASSERT_TRUE(wintest::PumpMessagesUntil([&] { return manager.Idle(); }, 30000));
    ASSERT_NE(manager.Find(later), nullptr);
    EXPECT_EQ(manager.Find(later)->body, "hello from the channel\n");
}

// Owns a hidden window that records the stage messages of one request and drives it the way
// its manager would.
class StageDriver {
public:
    explicit StageDriver(const std::wstring& url)
    {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"launcher_test_stage_wnd";
        RegisterClassW(&wc);
        m_hWnd = CreateWindowExW(0, wc.lpszClassName, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                                 nullptr);
        m_request = std::make_unique<FCHttpRequest>(7, m_hWnd, Get(url));
    }
    ~StageDriver()
    {
        m_request->WaitForWorkers();
        m_request.reset();
        DestroyWindow(m_hWnd);
    }

    // Runs the stages until stage 2 or a minute has passed.
    void Run()
    {
        const ULONGLONG deadline = GetTickCount64() + 60000;
        while (stages.empty() || stages.back() != kStageReadDone) {
            if (GetTickCount64() > deadline) return;
            MSG msg;
            if (!PeekMessageW(&msg, m_hWnd, kHttpRequestEventMessage, kHttpRequestEventMessage, PM_REMOVE)) {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_POSTMESSAGE);
                continue;
            }
            EXPECT_EQ(msg.wParam, 7u);
            stages.push_back(static_cast<int>(msg.lParam));
            if (msg.lParam == kStageConnected) {
                connectedAtStage0 = m_request->HasConnection();
                m_request->OnConnected();
            } else if (msg.lParam == kStageHeadersReady) {
                m_request->OnHeadersReady();
            }
        }
    }

    FCHttpRequest& request() { return *m_request; }
    std::vector<int> stages;
    bool connectedAtStage0 = true;

private:
    HWND m_hWnd = nullptr;
    std::unique_ptr<FCHttpRequest> m_request;
};

TEST_F(HttpEngine, RefusedPortRunsThroughEveryStageAsAFailure)
{
    const int closed = wintest::PortFromEnvironment(L"LAUNCHER_TEST_CLOSED_PORT");
    ASSERT_NE(closed, 0);
    StageDriver driver(wintest::LoopbackUrl(closed, L"/nothing"));
    driver.Run();
    EXPECT_EQ(driver.stages, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(driver.request().GetResponseInfo().m_nStatusCode, 0);
    EXPECT_EQ(driver.request().GetResponseInfo().m_nContentLength, 0);
    EXPECT_FALSE(driver.request().GetResponseInfo().m_bReadOK);
    EXPECT_EQ(driver.request().GetTotalReceiveByte(), 0);
}

TEST_F(HttpEngine, UrlWithoutHostHasNoConnectionAndStillRunsEveryStage)
{
    StageDriver driver(L"no url at all");
    driver.Run();
    EXPECT_EQ(driver.stages, (std::vector<int>{0, 1, 2}));
    EXPECT_FALSE(driver.connectedAtStage0);
    EXPECT_EQ(driver.request().GetResponseInfo().m_hRequest, nullptr);
    EXPECT_EQ(driver.request().GetResponseInfo().m_nStatusCode, 0);
    EXPECT_FALSE(driver.request().GetResponseInfo().m_bReadOK);
}

TEST_F(HttpEngine, TimedOutRequestReachesTheHookOnceAndIsSwept)
{
    SetStallFault();
    RecordingManager manager;
    FCHttpRequestHeader header = Get(ChannelUrl(L"/slow/stall.bin"));
    header.m_nTimeout = 300;
    const int id = manager.StartRequest(header);
    // The server stalls for 3 s, far beyond the timeout; the sweep destroys the request once
    // its workers are done, and the late stages find no running request.
    ASSERT_TRUE(wintest::PumpMessagesUntil([&] { return manager.Idle(); }, 30000));
    wintest::PumpMessagesFor(500);
    EXPECT_EQ(manager.timedOut, std::vector<int>{id});
    EXPECT_TRUE(manager.completed.empty());
}

TEST_F(HttpEngine, TimeoutAfterCompletionDoesNothing)
{
    RecordingManager manager;
    FCHttpRequestHeader header = Get(ChannelUrl(L"/blob/small.txt"));
    header.m_nTimeout = 3000;
    const int id = manager.StartRequest(header);
    ASSERT_TRUE(wintest::PumpMessagesUntil([&] { return manager.Find(id) != nullptr; }, 30000));
    wintest::PumpMessagesFor(3500);
    EXPECT_TRUE(manager.timedOut.empty());
    EXPECT_TRUE(manager.Idle());
}

TEST_F(HttpEngine, RemovedRequestIgnoresItsLaterStages)
{
    SetStallFault();
    RecordingManager manager;
    const int id = manager.StartRequest(Get(ChannelUrl(L"/slow/stall.bin")));
    wintest::PumpMessagesFor(300);
    manager.RemoveRequest(id);
    EXPECT_EQ(manager.FindRunning(id), nullptr);
    ASSERT_TRUE(wintest::PumpMessagesUntil([&] { return manager.Idle(); }, 30000));
    EXPECT_TRUE(manager.completed.empty());
}

TEST_F(HttpEngine, DestructorReturnsWithinTheShutdownWaitWhenTheServerNeverAnswers)
{
    const int silent = wintest::PortFromEnvironment(L"LAUNCHER_TEST_SILENT_PORT");
    ASSERT_NE(silent, 0);
    auto manager = std::make_unique<RecordingManager>();
    const int id = manager->StartRequest(Get(wintest::LoopbackUrl(silent, L"/never")));
    // Let the send worker get stuck waiting for the answer.
    wintest::PumpMessagesFor(1000);
    ASSERT_NE(manager->FindRunning(id), nullptr);
    const ULONGLONG start = GetTickCount64();
    manager.reset();
    EXPECT_LT(GetTickCount64() - start, 6000u);
}

TEST_F(HttpEngine, ShutdownWithMoreWorkersThanOneWaitTakesStaysWithinTheWait)
{
    // More blocked workers than WaitForMultipleObjects takes at once: the groups share one
    // deadline, so the whole shutdown still waits about 3 s and not 3 s per group.
    const int silent = wintest::PortFromEnvironment(L"LAUNCHER_TEST_SILENT_PORT");
    ASSERT_NE(silent, 0);
    auto manager = std::make_unique<RecordingManager>();
    for (int i = 0; i < 3 * MAXIMUM_WAIT_OBJECTS; ++i) manager->StartRequest(Get(wintest::LoopbackUrl(silent, L"/never")));
    wintest::PumpMessagesFor(1500);
    EXPECT_TRUE(manager->completed.empty());
    const ULONGLONG start = GetTickCount64();
    manager.reset();
    EXPECT_LT(GetTickCount64() - start, 6000u);
}

struct StartFromThread {
    FCHttpRequestManager* manager;
    std::wstring url;
    int id = 0;
};

DWORD WINAPI StartRequestOnThisThread(void* param)
{
    auto* start = static_cast<StartFromThread*>(param);
    start->id = start->manager->StartRequest(Get(start->url));
    return 0;
}

TEST_F(HttpEngine, RequestStartedOnAnotherThreadCompletes)
{
    RecordingManager manager;
    StartFromThread start{&manager, ChannelUrl(L"/blob/small.txt")};
    HANDLE thread = CreateThread(nullptr, 0, StartRequestOnThisThread, &start, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_EQ(start.id, 100);
    ASSERT_TRUE(wintest::PumpMessagesUntil([&] { return manager.Find(start.id) != nullptr; }, 30000));
    EXPECT_EQ(manager.Find(start.id)->status, 200);
    EXPECT_EQ(manager.Find(start.id)->body, "hello from the channel\n");
    // Created on the manager's thread, the request is also swept there.
    EXPECT_TRUE(wintest::PumpMessagesUntil([&] { return manager.Idle(); }, 10000));
}

struct StartMany {
    FCHttpRequestManager* manager;
    std::wstring url;
    std::vector<int> ids;
};

DWORD WINAPI StartManyOnThisThread(void* param)
{
    auto* start = static_cast<StartMany*>(param);
    for (int i = 0; i < 25; ++i) start->ids.push_back(start->manager->StartRequest(Get(start->url)));
    return 0;
}

TEST_F(HttpEngine, RequestsFromSeveralThreadsAtOnceAllCompleteWithTheirOwnIds)
{
    RecordingManager manager;
    std::vector<StartMany> starts(4, StartMany{&manager, ChannelUrl(L"/blob/small.txt"), {}});
    std::vector<HANDLE> threads;
    for (StartMany& start : starts) threads.push_back(CreateThread(nullptr, 0, StartManyOnThisThread, &start, 0, nullptr));
    // The manager's own thread starts requests and serves the hand-overs meanwhile.
    std::vector<int> ownIds;
    for (int i = 0; i < 25; ++i) {
        ownIds.push_back(manager.StartRequest(Get(ChannelUrl(L"/blob/small.txt"))));
        wintest::PumpMessagesFor(5);
    }
    WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE);
    for (HANDLE thread : threads) CloseHandle(thread);

    std::set<int> ids(ownIds.begin(), ownIds.end());
    for (const StartMany& start : starts) ids.insert(start.ids.begin(), start.ids.end());
    ASSERT_EQ(ids.size(), 125u);
    EXPECT_EQ(*ids.begin(), 100);
    EXPECT_EQ(*ids.rbegin(), 224);
    ASSERT_TRUE(wintest::PumpMessagesUntil([&] { return manager.completed.size() == 125 && manager.Idle(); }, 60000));
    for (int id : ids) {
        ASSERT_NE(manager.Find(id), nullptr) << id;
        EXPECT_EQ(manager.Find(id)->body, "hello from the channel\n") << id;
    }
}

}  // namespace
