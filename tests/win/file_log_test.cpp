// The text log as the launcher writes it: its place on C:, CR LF lines of the fixed form, the
// escapes for characters beyond Latin-1, and silence after Close. The log is one object per
// process, opened by its first use, so it is written by a child process of its own.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "core/profile.h"
#include "core/profile_names.h"
#include "diag/file_log.h"
#include "fw/app.h"
#include "tests/win/win_test_support.h"

namespace {

TEST(FileLog, WritesCrLfLinesOfTheFixedFormUntilClosed)
{
    const std::wstring dir = L"C:\\" + std::wstring(GAME_CODE) + L"-" + DITCH_CODE;
    CreateDirectoryW(dir.c_str(), nullptr);
    const std::wstring path =
        core::LogFilePath(GAME_CODE, DITCH_CODE, core::ApplicationNameFromModulePath(fw::ModuleFileName()));
    // "w+" empties an existing file.
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

}  // namespace

int FileLogChildMain(const std::wstring&)
{
    LOG_INFO("CWebApp::InitInstance", L"Laucher Start");
    LOG_ERROR("CGameRemoteConfig::QueryRegistryKey", L"C:\\游戏\\caf\u00e9");
    CFileLog::Instance().Write(L"two\nlines", "WebLogger::Log", 7, L"INFO");
    CFileLog::Instance().Close();
    LOG_INFO("CWebApp::InitInstance", L"after close");  // must do nothing
    CFileLog::Instance().Close();                        // and closing twice is harmless
    return 0;
}
