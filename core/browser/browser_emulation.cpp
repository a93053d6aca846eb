#include "core/browser/browser_emulation.h"

#include <climits>
#include <cwctype>

namespace core {

int BrowserMajorVersion(const std::wstring& versionText)
{
    std::wstring text = versionText;
    const std::size_t dot = text.find(L'.');
    if (dot != std::wstring::npos && dot > 0) text.resize(dot);

    std::size_t i = 0;
    while (i < text.size() && std::iswspace(static_cast<std::wint_t>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    long long value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

int HighestBrowserMajorVersion(const std::vector<std::wstring>& versionTexts)
{
    int highest = 0;
    for (const std::wstring& text : versionTexts) {
        if (text.empty()) continue;
        const int major = BrowserMajorVersion(text);
        if (major > highest) highest = major;
    }
    return highest;
}

std::uint32_t EmulationNumber(int majorVersion)
{
    if (majorVersion > 9) {
        const unsigned long long number = static_cast<unsigned long long>(majorVersion) * 1000 + 1;
        return number > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(number);
    }
    if (majorVersion == 8 || majorVersion == 9) return static_cast<std::uint32_t>(majorVersion) * 1111;
    return 7000;
}

const std::vector<std::wstring>& BrowserVersionValueNames()
{
    static const std::vector<std::wstring> names{L"svcVersion", L"svcUpdateVersion", L"Version", L"W2kVersion"};
    return names;
}

std::wstring BrowserVersionKeyPath(bool wow64)
{
    return wow64 ? L"SOFTWARE\\Wow6432Node\\Microsoft\\Internet Explorer" : L"SOFTWARE\\Microsoft\\Internet Explorer";
}

std::wstring BrowserEmulationKeyPath(bool wow64)
{
    return std::wstring(wow64 ? L"Software\\Wow6432Node" : L"Software") +
           L"\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION";
}

std::vector<std::wstring> BrowserEmulationKeyPaths(bool wow64, bool currentUser)
{
    std::vector<std::wstring> keys{BrowserEmulationKeyPath(wow64)};
    if (wow64 && currentUser) keys.push_back(BrowserEmulationKeyPath(false));
    return keys;
}

}  // namespace core
