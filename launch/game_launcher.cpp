#include "launch/game_launcher.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "core/diag/report_events.h"
#include "core/launch/game_command_line.h"
#include "core/profile/profile.h"
#include "core/profile/profile_names.h"
#include "core/update/remote_config.h"
#include "diag/file_log.h"
#include "diag/web_logger.h"
#include "fw/app.h"
#include "platform/window_message_handler.h"
#include "update/game_remote_config.h"
#include "update/pipeline_globals.h"

namespace {

// The first line of "luapath.txt" in the current directory, or nothing when there is no such
// file or it cannot be read (the game then starts without the option).
std::optional<std::wstring> ReadLuaPath()
{
    fw::UniqueFileHandle file(::CreateFileW(L"luapath.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::nullopt;
        LOG_ERROR("CWebCDlg::LaunchGame", L"luapath.txt cannot be read, error " + std::to_wstring(error));
        return std::nullopt;
    }
    // A first line is short; what lies beyond a few of them is never used.
    std::vector<char> bytes(4 * (core::kMaxLuaPathLine + 2));
    DWORD got = 0;
    if (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr)) {
        LOG_ERROR("CWebCDlg::LaunchGame", L"luapath.txt cannot be read, error " + std::to_wstring(::GetLastError()));
        return std::nullopt;
    }
    // A text file of the player's code page, as a text read takes it.
    std::wstring text;
    if (got > 0) {
        const int length = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(got), nullptr, 0);
        text.resize(static_cast<size_t>(length));
        ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(got), &text[0], length);
    }
    return core::FirstLuaPathLine(text);
}

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindProcessWindow(HWND hwnd, LPARAM lParam)
{
    auto* search = reinterpret_cast<WindowSearch*>(lParam);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    if (owner != search->processId) return TRUE;
    search->found = hwnd;
    return FALSE;
}

void ReportLaunchFailure()
{
    WebLogger::Instance().Log(L"game start failed");
    LOG_INFO("CWebCDlg::LaunchGame", L"LaunchGame Faild");
}

}  // namespace

void GameLauncher::OnLoginResult(const std::wstring& result)
{
    using Kind = core::LoginResult::Kind;
    const core::LaunchGate::LoginStep step = m_gate.Login(result);
    if (step.alreadyLoggedIn) {
        LOG_INFO("CWebCDlg::OnLoginResult", L"already login");
        return;
    }
    switch (step.kind) {
    case Kind::Empty:
        LOG_INFO("CWebCDlg::OnLoginResult", L"paramters is error!");
        return;
    case Kind::Rejected:
        fw::AppMessageBox(L"登录验证未通过", MB_OK | MB_ICONEXCLAMATION);
        return;
    case Kind::Accepted:
        LOG_INFO("CWebCDlg::OnLoginResult", L"is logic suc!");
        break;
    case Kind::ThirdParty:
        LOG_INFO("CWebCDlg::OnLoginResult", L"thirdparty login!");
        break;
    }
    if (step.launch) LaunchGame();
}

void GameLauncher::SetReady()
{
    const bool launch = m_gate.Ready();
    LOG_INFO("CWebCDlg::SetReady", L"is ready");
    if (launch) LaunchGame();
}

void GameLauncher::LaunchGame()
{
    WebLogger::Instance().LogEvent(core::kEventGameStart);
    WebLogger::Instance().Log(L"game start");

    const std::wstring clientDir = CGameRemoteConfig::Instance().Settings().clientDir;
    const std::wstring gamePath = core::GameExecutablePath(clientDir, GAME_CODE);
    LOG_INFO("CWebCDlg::LaunchGame", gamePath);
    const std::wstring workDir = core::GameDirectory(clientDir, GAME_CODE);
    LOG_INFO("CWebCDlg::LaunchGame", workDir);

    const std::optional<std::wstring> commandLine = core::FormatGameCommandLine(
        ::GetCommandLineW(), m_gate.Parameters(), core::GetCustomParameters(g_remoteConfig), ReadLuaPath());
    if (!commandLine) {
        LOG_ERROR("CWebCDlg::LaunchGame", L"the game's command line would be longer than a process can be given");
        ReportLaunchFailure();
        return;
    }
    LOG_INFO("CWebCDlg::LaunchGame", *commandLine);
    LOG_INFO("CWebCDlg::LaunchGame", L"LaunchGame");

    std::vector<wchar_t> line(commandLine->begin(), commandLine->end());
    line.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created{};
    if (!::CreateProcessW(gamePath.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                          workDir.c_str(), &startup, &created)) {
        LOG_ERROR("CWebCDlg::LaunchGame", L"CreateProcess error " + std::to_wstring(::GetLastError()));
        ReportLaunchFailure();
        return;
    }
    m_gameProcess.process.reset(created.hProcess);
    m_gameProcess.thread.reset(created.hThread);
    m_gameProcess.processId = created.dwProcessId;

    WebLogger::Instance().Log(L"game start success");
    LOG_INFO("CWebCDlg::LaunchGame", L"LaunchGame Succ");
    if (const fw::CWinApp* app = fw::GetApp()) ::ShowWindow(app->MainWindow(), SW_HIDE);

    if (g_freshInstall) {
        ::Sleep(1000);
        WindowSearch search{m_gameProcess.processId, nullptr};
        ::EnumWindows(&FindProcessWindow, reinterpret_cast<LPARAM>(&search));
        // Asynchronous: the game's thread may be busy, and the launcher does not wait for it.
        if (search.found) ::ShowWindowAsync(search.found, SW_MAXIMIZE);
    }

    // The window's handle as it is now: the window may be closed while the game runs.
    const HWND window = m_window ? m_window() : nullptr;
    ::WaitForSingleObject(m_gameProcess.process.get(), INFINITE);
    LOG_INFO("CWebCDlg::LaunchGame", L"Exit Game");
    CWindowMessageHandler::Instance().SendShowWindowMessage(window);
    if (m_endRun) m_endRun();
}
