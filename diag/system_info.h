// The machine fingerprint sent with every report: built once, on first use, and read-only
// afterwards, so any thread may read its texts.
#pragma once
#include <string>

class CSystemInfo {
public:
    // The single instance; the first call collects everything (the WMI queries can take
    // seconds) on the calling thread while concurrent first callers wait.
    static CSystemInfo& Instance();

    // True on 64-bit Windows: a 32-bit build asks IsWow64Process (false when the system cannot
    // say), a 64-bit build knows. Everything that differs between 32-bit and 64-bit Windows
    // (package URL, registry keys) follows this one answer, so both builds behave alike.
    static bool IsWow64();

    std::wstring m_strProcessorName;  // brand string from the registry, "" when unreadable
    std::wstring m_strMacAddress;     // "%02X-…" of the first adapter with a gateway, or "unkown"
    std::wstring m_strOsDescription;  // OS version text, processor name and memory text
    std::wstring m_strMemory;         // "physical memory:%ld MB virtual memory:%ld MB"
    std::wstring m_strClientUid;      // SHA-1 of the WMI serials, "unkown", or "" when hashing fails

    CSystemInfo(const CSystemInfo&) = delete;
    CSystemInfo& operator=(const CSystemInfo&) = delete;

private:
    CSystemInfo();
};
