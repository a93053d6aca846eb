#include "diag/fingerprint_collectors.h"

#include <iphlpapi.h>

#include <cstring>
#include <vector>

#include "core/diag/fingerprint_text.h"
#include "fw/text.h"
#include "fw/win_handle.h"

namespace fingerprint {

namespace {

constexpr DWORD kProcessorNameBufferBytes = 512;
constexpr ULONG kRtlVersionRecordSize = 276;

}  // namespace

std::wstring ReadProcessorName()
{
    fw::UniqueRegKey key;
    // Full access, as an elevated launcher is granted it.
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0,
                        KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS)
        return {};
    std::vector<std::uint8_t> data(kProcessorNameBufferBytes, 0);
    DWORD type = 0;
    DWORD size = kProcessorNameBufferBytes;
    const LONG result = ::RegQueryValueExW(key.get(), L"ProcessorNameString", nullptr, &type, data.data(), &size);
    const bool ok = result == ERROR_SUCCESS && size <= kProcessorNameBufferBytes;
    data.resize(ok ? size : 0);
    return core::ProcessorNameFromRegistryValue(ok, type, data);
}

std::wstring ReadMacText(ULONG bufferBytes)
{
    // One fixed buffer and no second attempt: a list that does not fit gives "unkown".
    std::vector<IP_ADAPTER_INFO> records(bufferBytes / sizeof(IP_ADAPTER_INFO) + 1);
    ULONG size = bufferBytes;
    if (::GetAdaptersInfo(records.data(), &size) != ERROR_SUCCESS) return core::kUnknownText;

    std::vector<core::AdapterRecord> adapters;
    for (const IP_ADAPTER_INFO* info = records.data(); info; info = info->Next) {
        core::AdapterRecord adapter;
        const char* gateway = info->GatewayList.IpAddress.String;
        adapter.firstGateway = fw::AnsiToWide(std::string(gateway, strnlen(gateway, sizeof info->GatewayList.IpAddress.String)));
        std::memcpy(adapter.address.data(), info->Address, adapter.address.size());
        adapters.push_back(adapter);
    }
    return core::ChooseMacText(adapters);
}

std::wstring OsVersionNameByTests()
{
    return core::OsVersionNameFromTests([](int major, int minor, int servicePack) {
        OSVERSIONINFOEXW wanted{};
        wanted.dwOSVersionInfoSize = sizeof wanted;
        wanted.dwMajorVersion = static_cast<DWORD>(major);
        wanted.dwMinorVersion = static_cast<DWORD>(minor);
        wanted.wServicePackMajor = static_cast<WORD>(servicePack);
        DWORDLONG mask = 0;
        mask = ::VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
        mask = ::VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
        mask = ::VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
        return ::VerifyVersionInfoW(&wanted, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, mask) !=
               FALSE;
    });
}

std::wstring ReadOsVersionText()
{
    // RtlGetVersion tells the truth where GetVersionEx is subject to the manifest's
    // compatibility shims.
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    if (HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll")) {
        const auto rtlGetVersion =
            reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")));
        if (rtlGetVersion) {
            OSVERSIONINFOW version{};
            version.dwOSVersionInfoSize = kRtlVersionRecordSize;
            if (rtlGetVersion(&version) == 0)
                return core::OsVersionText(static_cast<int>(version.dwMajorVersion),
                                           static_cast<int>(version.dwMinorVersion),
                                           static_cast<int>(version.dwBuildNumber));
        }
    }
    return OsVersionNameByTests();
}

std::wstring ReadMemoryText()
{
    MEMORYSTATUS status{};
    status.dwLength = sizeof status;
    ::GlobalMemoryStatus(&status);
    // SIZE_T is 64 bits wide in a 64-bit build: saturate rather than wrap.
    return core::MemoryText(core::MemoryFigure32(status.dwTotalPhys), core::MemoryFigure32(status.dwTotalVirtual));
}

}  // namespace fingerprint
