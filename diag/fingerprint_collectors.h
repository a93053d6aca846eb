// What the machine fingerprint reads from the system. Each collector falls back to the text
// the statistics server expects ("" or "unkown") instead of failing.
#pragma once
#include <windows.h>

#include <string>

namespace fingerprint {

// Room for five adapter records; a longer adapter list gives no MAC text.
constexpr ULONG kAdapterBufferBytes = 3240;

std::wstring ReadProcessorName();
// bufferBytes: the adapter list's buffer (kAdapterBufferBytes in the launcher).
std::wstring ReadMacText(ULONG bufferBytes);
// "Version major:…" from RtlGetVersion, else the name of the newest version test that holds.
std::wstring ReadOsVersionText();
// The name from the version tests alone.
std::wstring OsVersionNameByTests();
std::wstring ReadMemoryText();

}  // namespace fingerprint
