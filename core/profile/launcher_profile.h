// The URLs of the configuration and statistics servers, from the profile's host[:port] and
// channel code. Portable: no Windows headers.
#pragma once
#include <string>

namespace core {

std::wstring MakeConfigUrl(const std::wstring& configHost, const std::wstring& ditchCode);
std::wstring MakeErrorReportUrl(const std::wstring& statsHost);
std::wstring MakeInfoReportUrl(const std::wstring& statsHost);

}  // namespace core
