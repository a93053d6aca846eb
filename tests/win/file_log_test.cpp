// The text log as the launcher writes it: its place on C:, CR LF lines of the fixed form, the
// escapes for characters beyond Latin-1, and silence after Close. The log is one object per
// process, opened by its first use, so it is written by a child process of its own.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>

#include "core/profile/profile.h"
#include "core/profile/profile_names.h"
#include "diag/file_log.h"
#include "fw/app.h"
#include "fw/win_handle.h"
#include "tests/win/win_test_support.h"

namespace {

const std::wstring kLogDir = L"C:\\" + std::wstring(GAME_CODE) + L"-" + DITCH_CODE;

std::wstring LogPath()
{
    return core::LogFilePath(GAME_CODE, DITCH_CODE, core::ApplicationNameFromModulePath(fw::ModuleFileName()));
}

std::string ReadLog()
{
    const std::vector<char> raw = wintest::ReadFileBytes(LogPath());
    return std::string(raw.begin(), raw.end());
}

TEST(FileLog, WritesCrLfLinesOfTheFixedFormUntilClosed)
{
    CreateDirectoryW(kLogDir.c_str(), nullptr);
    const std::wstring path = LogPath();
    // A new run empties an existing file.
    ASSERT_TRUE(wintest::WriteFileBytes(path, "old run\r\n"));

    ASSERT_EQ(wintest::RunSelfAsChild(L"--file-log-child", L"-"), 0u);

    const std::vector<char> raw = wintest::ReadFileBytes(path);
    const std::string text(raw.begin(), raw.end());
    const std::string time = R"(\[(Mon|Tue|Wed|Thu|Fri|Sat|Sun) [A-Z][a-z]{2} \d{2} \d{2}:\d{2}:\d{2} \d{4}\])";
    const std::regex expected(time + R"(\[INFO\]\[CWebApp::InitInstance::\d+\] Laucher Start\r\n)" +  //
                              time + R"(\[ERROR\]\[CGameRemoteConfig::QueryRegistryKey::\d+\] )" +
                              R"(C:\\\\u6E38\\u620F\\caf\xe9\r\n)" +  //
                              time + R"(\[INFO\]\[WebLogger::Log::7\] two\r\nlines\r\n)");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
    DeleteFileW(path.c_str());
}

// A second launcher logs before it finds the first one running: it must not empty the
// running launcher's log, only add its own lines after it.
TEST(FileLog, ARunningLauncherKeepsItsLog)
{
    CreateDirectoryW(kLogDir.c_str(), nullptr);
    const std::string running = "[first launcher line 1]\r\n[first launcher line 2]\r\n";
    ASSERT_TRUE(wintest::WriteFileBytes(LogPath(), running));
    {
        fw::UniqueHandle instance(CreateMutexW(nullptr, FALSE, GAME_CODE));  // the first launcher
        ASSERT_TRUE(instance);
        ASSERT_EQ(wintest::RunSelfAsChild(L"--file-log-child", L"-"), 0u);
    }
    const std::string text = ReadLog();
    EXPECT_EQ(text.rfind(running, 0), 0u) << text;
    EXPECT_NE(text.find("Laucher Start\r\n", running.size()), std::string::npos) << text;
    EXPECT_EQ(text.find('\0'), std::string::npos);
    DeleteFileW(LogPath().c_str());
}

// A launcher that is killed keeps every line it wrote: nothing waits in a buffer.
TEST(FileLog, EveryLineIsOnDiskBeforeAKill)
{
    CreateDirectoryW(kLogDir.c_str(), nullptr);
    DeleteFileW(LogPath().c_str());
    EXPECT_EQ(wintest::RunSelfAsChild(L"--file-log-child", L"killed"), 3u);
    const std::string text = ReadLog();
    EXPECT_NE(text.find("[INFO][CWebApp::InitInstance::1] line before the kill\r\n"), std::string::npos) << text;
    DeleteFileW(LogPath().c_str());
}

// The first run reaches the log before its folder exists; once start-up has made the folder
// the log opens, but never again after it was closed.
TEST(FileLog, OpensOnceTheFolderExistsUnlessClosed)
{
    DeleteFileW(LogPath().c_str());
    RemoveDirectoryW(kLogDir.c_str());
    ASSERT_EQ(GetFileAttributesW(kLogDir.c_str()), INVALID_FILE_ATTRIBUTES) << "the log folder must not exist yet";
    ASSERT_EQ(wintest::RunSelfAsChild(L"--file-log-child", L"late-folder"), 0u);
    const std::string text = ReadLog();
    EXPECT_EQ(text.find("before the folder"), std::string::npos) << text;
    EXPECT_NE(text.find("] Laucher Start\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("after close"), std::string::npos) << text;
    DeleteFileW(LogPath().c_str());
}

// Shutdown keeps the thread that began it; a never-joined thread's lines are dropped from
// then on, before they reach a log that is being torn down.
TEST(FileLog, AtShutdownOnlyTheShuttingDownThreadWrites)
{
    CreateDirectoryW(kLogDir.c_str(), nullptr);
    DeleteFileW(LogPath().c_str());
    ASSERT_EQ(wintest::RunSelfAsChild(L"--file-log-child", L"shutdown"), 0u);
    const std::string text = ReadLog();
    EXPECT_NE(text.find("] worker before\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("] main after\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("worker after"), std::string::npos) << text;
    DeleteFileW(LogPath().c_str());
}

}  // namespace

int FileLogChildMain(const std::wstring& scenario)
{
    if (scenario == L"shutdown") {
        const auto worker = [](const wchar_t* text) {
            std::thread([text] { LOG_INFO("CGameRemoteConfig::CreateShortcuts", text); }).join();
        };
        worker(L"worker before");
        CFileLog::KeepOnlyThisThread();
        worker(L"worker after");
        LOG_INFO("CWebApp::ExitInstance", L"main after");
        return 0;
    }
    if (scenario == L"killed") {
        CFileLog::Instance().Write(L"line before the kill", "CWebApp::InitInstance", 1, L"INFO");
        TerminateProcess(GetCurrentProcess(), 3);  // no runtime clean-up, no buffers written
    }
    if (scenario == L"late-folder") {
        LOG_INFO("CWebApp::InitApplication", L"before the folder");
        CreateDirectoryW(kLogDir.c_str(), nullptr);
        CFileLog::Instance().OpenOnceFoldersExist();
        LOG_INFO("CWebApp::InitInstance", L"Laucher Start");
        CFileLog::Instance().Close();
        CFileLog::Instance().OpenOnceFoldersExist();
        LOG_INFO("CWebApp::InitInstance", L"after close");
        return 0;
    }
    LOG_INFO("CWebApp::InitInstance", L"Laucher Start");
    LOG_ERROR("CGameRemoteConfig::QueryRegistryKey", L"C:\\游戏\\caf\u00e9");
    CFileLog::Instance().Write(L"two\nlines", "WebLogger::Log", 7, L"INFO");
    CFileLog::Instance().Close();
    LOG_INFO("CWebApp::InitInstance", L"after close");  // must do nothing
    CFileLog::Instance().Close();                        // and closing twice is harmless
    return 0;
}
