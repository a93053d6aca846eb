// The launcher profile: the values one build is made for, and the URLs derived from them.
// Portable: no Windows headers.
#pragma once
#include <string>

namespace core {

struct LauncherProfile {
    std::wstring launcherVersion;  // "0.0.0.1"
    std::wstring gameName;         // display name, e.g. "Vantorra"
    std::wstring gameCode;         // short code, e.g. "qorn"
    std::wstring ditchCode;        // channel code, e.g. "palmet"
    std::wstring configHost;       // host[:port] of the configuration server
    std::wstring statsHost;        // host[:port] of the statistics server
};

std::wstring MakeConfigUrl(const std::wstring& configHost, const std::wstring& ditchCode);
std::wstring MakeErrorReportUrl(const std::wstring& statsHost);
std::wstring MakeInfoReportUrl(const std::wstring& statsHost);

}  // namespace core
