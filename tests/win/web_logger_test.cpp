// Reports as the statistics server receives them: the channel server that
// run_with_test_servers.py starts records every report with its decoded parameters, which the
// test reads back from the server's control endpoint.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "core/profile/profile.h"
#include "diag/system_info.h"
#include "diag/web_logger.h"
#include "fw/text.h"
#include "tests/win/win_test_support.h"
#include "tools/common/tool_support.h"

namespace {

int ChannelPort() { return wintest::PortFromEnvironment(L"LAUNCHER_TEST_CHANNEL_PORT"); }

class LoopbackWebLogger : public WebLogger {
public:
    LoopbackWebLogger()
        : WebLogger(wintest::LoopbackUrl(ChannelPort(), L"/api/laucher_info.php"),
                    wintest::LoopbackUrl(ChannelPort(), L"/api/laucher_error.php"))
    {
    }
    bool Idle() const { return m_runningList.empty() && m_finishedList.empty(); }
};

// What the server's JSON log shows for a decoded value (non-ASCII stays as UTF-8).
using tools::JsonString;

std::string Param(const char* key, const std::wstring& value)
{
    return std::string("[\"") + key + "\", " + JsonString(value) + "]";
}

// The parameters every report carries, in their order, as the server decoded them.
std::string CommonParams()
{
    const CSystemInfo& info = CSystemInfo::Instance();
    return Param("client_uid", info.m_strClientUid) + ", " + Param("ditch_name", DITCH_CODE) + ", " +
           Param("mac", info.m_strMacAddress) + ", " + Param("os_version", info.m_strOsDescription);
}

// The reports the server has received, as its JSON text.
std::string ReceivedReports()
{
    class Fetcher : public FCHttpRequestManager {
    public:
        std::string body;
        bool done = false;

    protected:
        void OnRequestComplete(FCHttpRequest& request) override
        {
            body = request.GetReceivedBytes();
            done = true;
        }
    } fetcher;
    FCHttpRequestHeader header;
    header.m_strUrl = wintest::LoopbackUrl(ChannelPort(), L"/_control/reports");
    fetcher.StartRequest(header);
    wintest::PumpMessagesUntil([&] { return fetcher.done; }, 30000);
    return fetcher.body;
}

TEST(WebLoggerReports, EventsAndMessagesArriveWithTheFingerprintInOrder)
{
    ASSERT_NE(ChannelPort(), 0) << "run through tests/support/run_with_test_servers.py";
    const std::wstring message = L"a b?c/d #中文 100% & k=v+x\u00e9";
    {
        LoopbackWebLogger logger;
        logger.LogEvent(kEventCreate);
        logger.LogEvent(42);
        logger.Log(message);
        ASSERT_TRUE(wintest::PumpMessagesUntil([&] { return logger.Idle(); }, 30000));
    }
    const std::string reports = ReceivedReports();
    const std::string info = R"("kind": "info", "method": "GET", "path": "/api/laucher_info.php")";
    const std::string error = R"("kind": "error", "method": "GET", "path": "/api/laucher_error.php")";
    EXPECT_NE(reports.find(info), std::string::npos) << reports;
    EXPECT_NE(reports.find(error), std::string::npos) << reports;
    EXPECT_NE(reports.find("\"params\": [" + CommonParams() + ", " + Param("ac", L"create") + "]"),
              std::string::npos)
        << reports;
    // A code outside the event table sends the common parameters alone.
    EXPECT_NE(reports.find("\"params\": [" + CommonParams() + "]"), std::string::npos) << reports;
    // The message arrives as one value that decodes back to the original.
    EXPECT_NE(reports.find("\"params\": [" + CommonParams() + ", " + Param("error_msg", message) + "]"),
              std::string::npos)
        << reports;
}

struct LogCall {
    WebLogger* logger;
    const std::wstring* message;
};

DWORD WINAPI LogOnThisThread(void* param)
{
    auto* call = static_cast<LogCall*>(param);
    call->logger->Log(*call->message);
    return 0;
}

TEST(WebLoggerReports, ReportFromAnotherThreadArrives)
{
    ASSERT_NE(ChannelPort(), 0) << "run through tests/support/run_with_test_servers.py";
    const std::wstring message = L"from the update thread 更新";
    {
        LoopbackWebLogger logger;
        LogCall call{&logger, &message};
        HANDLE thread = CreateThread(nullptr, 0, LogOnThisThread, &call, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        wintest::PumpMessagesFor(200);
        ASSERT_TRUE(wintest::PumpMessagesUntil([&] { return logger.Idle(); }, 30000));
    }
    EXPECT_NE(ReceivedReports().find(Param("error_msg", message)), std::string::npos);
}

}  // namespace
