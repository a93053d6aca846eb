#include "platform/window_message_handler.h"

#include <cstdio>
#include <limits>

#include "core/update/client_version.h"
#include "core/app/command_line.h"
#include "core/app/platform_params.h"
#include "core/profile/profile_names.h"
#include "diag/file_log.h"
#include "fw/app.h"
#include "fw/text.h"

namespace {

// The command line after the program name, as the entry point receives it.
std::wstring CommandLineArguments() { return core::ArgumentsOfCommandLine(::GetCommandLineW()); }

std::vector<std::string> CommandLineTokens() { return core::SplitParamTokens(fw::WideToAnsi(CommandLineArguments())); }

constexpr std::size_t kUriLogChars = 1024;

}  // namespace

CWindowMessageHandler& CWindowMessageHandler::Instance()
{
    static CWindowMessageHandler handler;
    return handler;
}

std::wstring CWindowMessageHandler::GetTaviParamFromCommandLine(const std::wstring& key)
{
    LOG_INFO("CWindowMessageHandler::GetTaviParamFromCommandLine", CommandLineArguments());
    return fw::AnsiToWide(core::FindParamValue(CommandLineTokens(), fw::WideToAnsi(key)));
}

void CWindowMessageHandler::GetTaviTokenFromCommandLine()
{
    LOG_INFO("CWindowMessageHandler::GetTaviTokenFromCommandLine", CommandLineArguments());
    m_strWinId = GetTaviParamFromCommandLine(L"winid");
    m_strToken = GetTaviParamFromCommandLine(L"token");
    m_strSource = GetTaviParamFromCommandLine(L"source");
    m_bParsed = true;
}

std::wstring CWindowMessageHandler::GetTaviUriFromCommandLine()
{
    LOG_INFO("CWindowMessageHandler::GetTaviUriFromCommandLine", CommandLineArguments());
    const std::vector<std::string> tokens = CommandLineTokens();
    const std::wstring appName = core::ApplicationNameFromModulePath(fw::ModuleFileName());
    LOG_INFO("CWindowMessageHandler::GetTaviUriFromCommandLine", appName);

    const std::string ansiName = fw::WideToAnsi(appName);
    const std::size_t underscore = ansiName.find_last_of('_');
    std::string fileParam;
    if (underscore != std::string::npos) {
        fileParam = ansiName.substr(underscore + 1);
        m_strFileParam = fw::AnsiToWide(fileParam);
    }
    const std::wstring query = fw::AnsiToWide(
        core::BuildQueryString(tokens, underscore != std::string::npos ? &fileParam : nullptr));
    std::wstring logText = L"GetTaviUriFromCommandLine\uFF1A" + query;
    if (logText.size() > kUriLogChars) logText.resize(kUriLogChars);
    LOG_INFO("CWindowMessageHandler::GetTaviUriFromCommandLine", logText);
    return query;
}

void CWindowMessageHandler::SendShowWindowMessage(HWND window)
{
    if (!m_bParsed) GetTaviTokenFromCommandLine();
    if (m_strWinId.empty()) return;
    // The handle as wcstol reads it: a 32-bit long.
    const long handle = static_cast<long>(core::ParseLeadingInteger(
        m_strWinId, std::numeric_limits<long>::min(), std::numeric_limits<long>::max()));
    HWND target = reinterpret_cast<HWND>(static_cast<LONG_PTR>(handle));

    std::vector<unsigned char> payload = core::ShowWindowPayload();
    COPYDATASTRUCT data{};
    data.dwData = static_cast<ULONG_PTR>(m_nType);
    data.cbData = static_cast<DWORD>(payload.size());
    data.lpData = payload.data();
    // Only a window: a number like 65535 (HWND_BROADCAST) would send to every window there is.
    const LRESULT result = ::IsWindow(target) ? ::SendMessageW(target, WM_COPYDATA, reinterpret_cast<WPARAM>(window),
                                                               reinterpret_cast<LPARAM>(&data))
                                              : 0;

    wchar_t text[64];
    std::swprintf(text, sizeof text / sizeof text[0], L"SendShowWindowMessage lret:%d", static_cast<int>(result));
    LOG_INFO("CWindowMessageHandler::SendShowWindowMessage", text);
}
