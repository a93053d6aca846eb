#include <cstdio>
#include <vector>

#include "diag/file_log.h"
#include "fw/win_handle.h"
#include "update/game_remote_config.h"

namespace {

constexpr DWORD kValueBufferBytes = 2048;

void LogQueryFailure(LONG result)
{
    wchar_t text[96];
    std::swprintf(text, sizeof text / sizeof text[0], L"QueryRegistryKey lret:%ld error:%lu", result,
                  ::GetLastError());
    LOG_ERROR("CGameRemoteConfig::QueryRegistryKey", text);
}

}  // namespace

std::wstring CGameRemoteConfig::QueryRegistryKey(HKEY root, const std::wstring& subKey, const std::wstring& valueName)
{
    fw::UniqueRegKey key;
    const LONG openResult = ::RegOpenKeyExW(root, subKey.c_str(), 0, KEY_QUERY_VALUE, key.put());
    if (openResult != ERROR_SUCCESS) {
        LogQueryFailure(openResult);
        return {};
    }
    // One spare character beyond the 2048 bytes read keeps the text terminated whatever the
    // stored value holds.
    std::vector<wchar_t> buffer(kValueBufferBytes / sizeof(wchar_t) + 1, L'\0');
    DWORD type = 0;
    DWORD size = kValueBufferBytes;
    LONG readResult = ::RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type,
                                         reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (readResult == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) readResult = ERROR_INVALID_DATA;
    if (readResult != ERROR_SUCCESS) {
        LogQueryFailure(readResult);
        return {};
    }
    return std::wstring(buffer.data());
}
