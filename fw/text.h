// Conversions between wide strings and the bytes that cross into them.
#pragma once
#include <string>

namespace fw {

// In the thread's ANSI code page (CP_ACP): command lines, URLs, log time text.
std::wstring AnsiToWide(const std::string& bytes);
std::string WideToAnsi(const std::wstring& text);

std::wstring Utf8ToWide(const std::string& bytes);
std::string WideToUtf8(const std::wstring& text);

}  // namespace fw
