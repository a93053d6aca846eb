#include "browser/web_browser_helper.h"

#include <cstdio>
#include <vector>

#include "core/browser/browser_emulation.h"
#include "core/profile/profile_names.h"
#include "diag/file_log.h"
#include "diag/system_info.h"
#include "fw/app.h"
#include "fw/text.h"
#include "fw/win_handle.h"

namespace {

constexpr DWORD kVersionBufferChars = 1024;

std::wstring ResultText(const wchar_t* what, LONG result)
{
    wchar_t text[96];
    std::swprintf(text, sizeof text / sizeof text[0], L"%ls lret:%ld error:%lu", what, result, ::GetLastError());
    return text;
}

// The launcher's value name: its file name with ".exe", held in the ANSI code page (as the
// value has always been written), computed once.
const std::string& LauncherProgramName()
{
    static const std::string name =
        fw::WideToAnsi(core::ApplicationNameFromModulePath(fw::ModuleFileName()) + L".exe");
    return name;
}

// The fingerprint is built first (at start-up this is its first use, on the GUI thread, just
// before the first report), then asked about WOW64.
bool RunsUnderWow64()
{
    CSystemInfo::Instance();
    return CSystemInfo::IsWow64();
}

}  // namespace

int CWebBrowserHelper::GetBrowserVersion()
{
    const std::wstring key = core::BrowserVersionKeyPath(RunsUnderWow64());
    std::vector<std::wstring> texts;
    for (const std::wstring& valueName : core::BrowserVersionValueNames()) {
        fw::UniqueRegKey handle;
        const LONG openResult = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE, handle.put());
        if (openResult != ERROR_SUCCESS) {
            LOG_ERROR("CWebBrowserHelper::GetBrowserVersion", ResultText(L"QueryRegistryKey", openResult));
            continue;
        }
        // One spare character keeps the text terminated whatever the value holds.
        std::vector<wchar_t> buffer(kVersionBufferChars + 1, L'\0');
        DWORD type = 0;
        DWORD size = kVersionBufferChars * sizeof(wchar_t);
        LONG readResult = ::RegQueryValueExW(handle.get(), valueName.c_str(), nullptr, &type,
                                             reinterpret_cast<BYTE*>(buffer.data()), &size);
        if (readResult == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) readResult = ERROR_INVALID_DATA;
        if (readResult != ERROR_SUCCESS) {
            LOG_ERROR("CWebBrowserHelper::GetBrowserVersion", ResultText(L"QueryRegistryKey", readResult));
            continue;
        }
        texts.emplace_back(buffer.data());
    }
    return core::HighestBrowserMajorVersion(texts);
}

void CWebBrowserHelper::FixBrowserVersion_Internal(const std::wstring& hive, const std::string& programName,
                                                   DWORD value)
{
    const bool machine = hive == L"HKEY_LOCAL_MACHINE";
    HKEY root = machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    const std::wstring valueName = fw::AnsiToWide(programName);
    for (const std::wstring& key : core::BrowserEmulationKeyPaths(RunsUnderWow64(), !machine)) {
        fw::UniqueRegKey handle;
        const LONG createResult = ::RegCreateKeyExW(root, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                    KEY_ALL_ACCESS, nullptr, handle.put(), nullptr);
        if (createResult != ERROR_SUCCESS) {
            LOG_ERROR("CWebBrowserHelper::FixBrowserVersion_Internal", ResultText(L"SetRegisties", createResult));
            continue;
        }
        const LONG setResult = ::RegSetValueExW(handle.get(), valueName.c_str(), 0, REG_DWORD,
                                                reinterpret_cast<const BYTE*>(&value), sizeof value);
        if (setResult != ERROR_SUCCESS)
            LOG_ERROR("CWebBrowserHelper::FixBrowserVersion_Internal", ResultText(L"SetRegisties", setResult));
    }
}

void CWebBrowserHelper::FixBrowserVersion()
{
    const std::string& launcher = LauncherProgramName();
    DWORD number = core::EmulationNumber(GetBrowserVersion());
    FixBrowserVersion_Internal(L"HKEY_LOCAL_MACHINE", launcher, number);
    FixBrowserVersion_Internal(L"HKEY_CURRENT_USER", launcher, number);

    number = core::EmulationNumber(GetBrowserVersion());
    const std::string tool = "WebBrowserTool.exe";
    FixBrowserVersion_Internal(L"HKEY_LOCAL_MACHINE", tool, number);
    FixBrowserVersion_Internal(L"HKEY_CURRENT_USER", tool, number);
}
