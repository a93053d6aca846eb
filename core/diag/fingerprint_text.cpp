#include "core/diag/fingerprint_text.h"

#include <cstdio>

namespace core {

const wchar_t kUnknownText[] = L"unkown";

std::wstring FormatMacText(const std::array<std::uint8_t, 6>& a)
{
    wchar_t text[18];
    std::swprintf(text, sizeof text / sizeof text[0], L"%02X-%02X-%02X-%02X-%02X-%02X", a[0], a[1], a[2], a[3],
                  a[4], a[5]);
    return text;
}

std::wstring ChooseMacText(const std::vector<AdapterRecord>& adapters)
{
    for (const AdapterRecord& adapter : adapters) {
        // Only a text that begins with '0' ("0.0.0.0") means no gateway; an empty text does not.
        if (!adapter.firstGateway.empty() && adapter.firstGateway[0] == L'0') continue;
        return FormatMacText(adapter.address);
    }
    return kUnknownText;
}

std::wstring ProcessorNameFromRegistryValue(bool readSucceeded, std::uint32_t type,
                                            const std::vector<std::uint8_t>& data)
{
    if (!readSucceeded || (type != kRegistryString && type != kRegistryExpandString)) return {};
    if (data.empty()) return {};
    if (data.size() % 2 != 0) return {};
    const std::size_t units = data.size() / 2;
    std::wstring text;
    text.reserve(units);
    for (std::size_t i = 0; i < units; ++i)
        text.push_back(static_cast<wchar_t>(data[2 * i] | (data[2 * i + 1] << 8)));
    if (text.back() != L'\0') return {};
    // The text ends at its first zero, as the system's own string readers take it.
    return text.substr(0, text.find(L'\0'));
}

std::wstring OsVersionText(int major, int minor, int build)
{
    wchar_t text[96];
    std::swprintf(text, sizeof text / sizeof text[0], L"Version major:%d minor:%d build:%d", major, minor, build);
    return text;
}

std::wstring OsVersionNameFromTests(const std::function<bool(int, int, int)>& atLeast)
{
    struct VersionTest {
        int major, minor, servicePack;
        const wchar_t* name;
    };
    static const VersionTest kTests[] = {
        {10, 0, 0, L"Windows10OrGreater"}, {6, 3, 0, L"Windows8Point1OrGreater"},
        {6, 2, 0, L"Windows8OrGreater"},   {6, 1, 1, L"Windows7SP1OrGreater"},
        {6, 1, 0, L"Windows7OrGreater"},   {6, 0, 2, L"VistaSP2OrGreater"},
        {6, 0, 1, L"VistaSP1OrGreater"},   {6, 0, 0, L"VistaOrGreater"},
    };
    for (const VersionTest& test : kTests)
        if (atLeast(test.major, test.minor, test.servicePack)) return test.name;
    return L"ElderThanVista";
}

std::uint32_t MemoryFigure32(std::uint64_t bytes)
{
    return bytes > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(bytes);
}

std::wstring MemoryText(std::uint32_t totalPhysicalBytes, std::uint32_t totalVirtualBytes)
{
    wchar_t text[96];
    std::swprintf(text, sizeof text / sizeof text[0], L"physical memory:%ld MB virtual memory:%ld MB",
                  static_cast<long>(totalPhysicalBytes >> 20), static_cast<long>(totalVirtualBytes >> 20));
    return text;
}

std::wstring OsDescription(const std::wstring& versionText, const std::wstring& processorName,
                           const std::wstring& memoryText)
{
    return versionText + processorName + memoryText;
}

std::wstring HexDigest(const std::vector<std::uint8_t>& digest)
{
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(digest.size() * 2);
    for (std::uint8_t byte : digest) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

}  // namespace core
