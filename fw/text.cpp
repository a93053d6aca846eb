#include "fw/text.h"

#include <windows.h>

namespace fw {

namespace {

std::wstring ToWide(UINT codePage, const std::string& bytes)
{
    if (bytes.empty()) return {};
    const int n = ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), &out[0], n);
    return out;
}

std::string ToBytes(UINT codePage, const std::wstring& text)
{
    if (text.empty()) return {};
    const int n = ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                        nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr,
                              nullptr);
    return out;
}

}  // namespace

std::wstring AnsiToWide(const std::string& bytes) { return ToWide(CP_ACP, bytes); }
std::string WideToAnsi(const std::wstring& text) { return ToBytes(CP_ACP, text); }
std::wstring Utf8ToWide(const std::string& bytes) { return ToWide(CP_UTF8, bytes); }
std::string WideToUtf8(const std::wstring& text) { return ToBytes(CP_UTF8, text); }

}  // namespace fw
