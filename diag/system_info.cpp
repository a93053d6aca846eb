#include "diag/system_info.h"

#include <windows.h>

#include "core/diag/fingerprint_text.h"
#include "diag/client_uid.h"
#include "diag/fingerprint_collectors.h"

CSystemInfo& CSystemInfo::Instance()
{
    static CSystemInfo info;  // thread-safe one-time construction
    return info;
}

CSystemInfo::CSystemInfo()
{
    m_strProcessorName = fingerprint::ReadProcessorName();
    m_strMacAddress = fingerprint::ReadMacText(fingerprint::kAdapterBufferBytes);
    const std::wstring versionText = fingerprint::ReadOsVersionText();
    m_strMemory = fingerprint::ReadMemoryText();
    m_strClientUid = fingerprint::ReadClientUid();
    m_strOsDescription = core::OsDescription(versionText, m_strProcessorName, m_strMemory);
}

bool CSystemInfo::IsWow64()
{
#if defined(_WIN64)
    return true;
#else
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32");
    if (!kernel) return false;
    const auto isWow64Process =
        reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(::GetProcAddress(kernel, "IsWow64Process")));
    if (!isWow64Process) return false;
    BOOL wow64 = FALSE;
    if (!isWow64Process(::GetCurrentProcess(), &wow64)) return false;
    return wow64 != FALSE;
#endif
}
