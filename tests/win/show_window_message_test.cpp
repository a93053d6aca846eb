// The show-window message as the stand-in platform client receives it: exactly one WM_COPYDATA
// with the fixed 2056 bytes when --winid names its window, and nothing (not even a log line)
// without --winid. The sender runs as a child process, since the handler reads its own
// process's command line.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/window_message_handler.h"
#include "core/app/platform_params.h"
#include "core/profile/profile.h"
#include "core/profile/profile_names.h"
#include "fw/app.h"
#include "fw/win_handle.h"
#include "tests/win/win_test_support.h"

namespace {

std::string Hex(const std::vector<unsigned char>& bytes)
{
    std::string out;
    char buf[4];
    for (unsigned char b : bytes) {
        std::snprintf(buf, sizeof buf, "%02x", b);
        out += buf;
    }
    return out;
}

std::string ReadText(const std::wstring& path)
{
    const std::vector<char> bytes = wintest::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

class ShowWindowMessage : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::wstring exe = m_dir.path() + L"\\standin_platform.exe";
        ASSERT_TRUE(CopyFileW(wintest::HostPath(STANDIN_PLATFORM_EXE).c_str(), exe.c_str(), FALSE));
        m_platform = wintest::StartProcess(L"\"" + exe + L"\"");
        ASSERT_TRUE(m_platform);
        const std::wstring hwndFile = m_dir.path() + L"\\standin_platform.hwnd";
        for (int i = 0; i < 300 && GetFileAttributesW(hwndFile.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
        m_hwnd = ReadText(hwndFile);
        ASSERT_FALSE(m_hwnd.empty());
        // The child's log goes to the launcher's log folder; it must exist for the log to open.
        CreateDirectoryW((L"C:\\" + std::wstring(GAME_CODE) + L"-" + DITCH_CODE).c_str(), nullptr);
    }
    void TearDown() override
    {
        wintest::WriteFileBytes(m_dir.path() + L"\\standin_platform.stop", "");
        if (m_platform) WaitForSingleObject(m_platform.get(), 10000);
    }
    std::string Record() { return ReadText(m_dir.path() + L"\\standin_platform_record.txt"); }
    std::string ChildLog()
    {
        return ReadText(core::LogFilePath(GAME_CODE, DITCH_CODE,
                                          core::ApplicationNameFromModulePath(fw::ModuleFileName())));
    }

    wintest::TempDir m_dir{L"platform"};
    fw::UniqueHandle m_platform;
    std::string m_hwnd;
};

TEST_F(ShowWindowMessage, ReachesThePlatformWindowOnceWithTheFixedPayload)
{
    const std::wstring winid = L"--winid=" + std::wstring(m_hwnd.begin(), m_hwnd.end());
    ASSERT_EQ(wintest::RunSelfAsChild(L"--show-window-child", winid), 0u);
    const std::string expected = "{\"tag\": 1, \"size\": 2056, \"hex\": \"" + Hex(core::ShowWindowPayload()) + "\"}\n";
    EXPECT_EQ(Record(), expected);
    EXPECT_NE(ChildLog().find("SendShowWindowMessage lret:1"), std::string::npos) << ChildLog();
}

TEST_F(ShowWindowMessage, AWindowIdThatNamesNoWindowSendsNothing)
{
    // 65535 is the broadcast handle: the message must not go to every window there is.
    for (const wchar_t* winid : {L"--winid=65535", L"--winid=abc", L"--winid=0"}) {
        ASSERT_EQ(wintest::RunSelfAsChild(L"--show-window-child", winid), 0u);
        EXPECT_NE(ChildLog().find("SendShowWindowMessage lret:0"), std::string::npos) << ChildLog();
    }
    EXPECT_EQ(Record(), "");
}

TEST_F(ShowWindowMessage, NothingIsSentOrLoggedWithoutAWindowId)
{
    ASSERT_EQ(wintest::RunSelfAsChild(L"--show-window-child", L"--token=abc"), 0u);
    EXPECT_EQ(Record(), "");
    EXPECT_EQ(ChildLog().find("SendShowWindowMessage"), std::string::npos) << ChildLog();
}

}  // namespace

// Child mode: the command line holds the platform's tokens; send the message and end.
int ShowWindowChildMain(const std::wstring&)
{
    CWindowMessageHandler::Instance().SendShowWindowMessage(nullptr);
    return 0;
}
