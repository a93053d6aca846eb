// UTF-8 <-> wide strings in portable code. A wide string is UTF-32 where wchar_t has 32 bits
// (Linux) and UTF-16 where it has 16 (Windows): characters beyond U+FFFF become surrogate
// pairs there. Malformed UTF-8 becomes U+FFFD, one per bad sequence.
#pragma once
#include <string>

namespace core {

std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& bytes);

}  // namespace core
