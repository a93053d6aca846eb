// How the machine fingerprint's texts are composed from what the collectors read: the MAC
// choice, the OS version text and its fallback names, the memory text, the OS description and
// the digest's hexadecimal form. Portable: the Windows collectors feed these functions.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace core {

// What a collector reports when it cannot find its value (the statistics server knows this
// spelling).
extern const wchar_t kUnknownText[];

// "%02X-%02X-%02X-%02X-%02X-%02X"
std::wstring FormatMacText(const std::array<std::uint8_t, 6>& address);

struct AdapterRecord {
    std::wstring firstGateway;              // text of the adapter's first gateway address
    std::array<std::uint8_t, 6> address{};  // first six bytes of its hardware address
};

// The MAC text of the first adapter, in list order, that has a gateway; kUnknownText when none
// has. An adapter without a gateway shows "0.0.0.0": a text that begins with '0' is skipped.
std::wstring ChooseMacText(const std::vector<AdapterRecord>& adapters);

// Registry value types that hold text.
constexpr std::uint32_t kRegistryString = 1;
constexpr std::uint32_t kRegistryExpandString = 2;

// The processor name from a registry read of "ProcessorNameString": data holds exactly the
// bytes the read returned (UTF-16 little-endian). Accepted only when the read succeeded, the
// type is a string type and the data is either empty or an even number of bytes whose last
// character is the terminating zero; anything else gives "".
std::wstring ProcessorNameFromRegistryValue(bool readSucceeded, std::uint32_t type,
                                            const std::vector<std::uint8_t>& data);

// "Version major:%d minor:%d build:%d"
std::wstring OsVersionText(int major, int minor, int build);

// The name of the first version test that holds, newest first ("Windows10OrGreater" …
// "VistaOrGreater"), or "ElderThanVista". atLeast(major, minor, servicePackMajor) answers
// whether the system is at least that version.
std::wstring OsVersionNameFromTests(const std::function<bool(int, int, int)>& atLeast);

// A memory status byte count as the 32-bit figure the memory text is made of: counts that do
// not fit (a 64-bit process's sizes) saturate at 0xFFFFFFFF instead of wrapping around.
std::uint32_t MemoryFigure32(std::uint64_t bytes);

// "physical memory:%ld MB virtual memory:%ld MB" from byte counts, in whole megabytes.
std::wstring MemoryText(std::uint32_t totalPhysicalBytes, std::uint32_t totalVirtualBytes);

// Version text, processor name and memory text run together with no separator.
std::wstring OsDescription(const std::wstring& versionText, const std::wstring& processorName,
                           const std::wstring& memoryText);

// Lower-case hexadecimal of a digest; "" when there is no digest.
std::wstring HexDigest(const std::vector<std::uint8_t>& digest);

}  // namespace core
