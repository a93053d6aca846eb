// UTF-8 <-> wide strings in portable code. A wide string is UTF-32 where wchar_t has 32 bits
// (Linux) and UTF-16 where it has 16 (Windows): characters beyond U+FFFF become surrogate
// pairs there. Malformed UTF-8 becomes U+FFFD, one per bad sequence; so does a wide code unit
// that is no character (a lone surrogate, or beyond U+10FFFF), so the UTF-8 written is always
// well-formed and every part of the launcher sends the same bytes for the same text.
#pragma once
#include <cstddef>
#include <string>

namespace core {

std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& bytes);

// The character at text[i], advancing i past it. A surrogate pair is one character whatever
// the width of wchar_t: a 32-bit string holds one when its text came from UTF-16 unit by unit
// (a registry value read on the POSIX host, say). Lone surrogates and values beyond U+10FFFF
// give U+FFFD.
char32_t NextCodePoint(const std::wstring& text, std::size_t& i);

// The UTF-8 bytes of one character from NextCodePoint.
void AppendUtf8(char32_t c, std::string& out);

}  // namespace core
