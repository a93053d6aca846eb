#include "core/text/utf8_text.h"

#include <cstdint>

namespace core {

namespace {

constexpr bool kUtf16 = sizeof(wchar_t) == 2;
constexpr std::uint32_t kReplacement = 0xFFFD;

bool IsSurrogate(std::uint32_t c) { return c >= 0xD800 && c <= 0xDFFF; }
bool IsHighSurrogate(std::uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(std::uint32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendCodePoint(std::wstring& out, std::uint32_t c)
{
    if (c > 0x10FFFF || IsSurrogate(c)) c = kReplacement;
    if (kUtf16 && c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (c >> 10));
        out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    } else {
        out += static_cast<wchar_t>(c);
    }
}

}  // namespace

char32_t NextCodePoint(const std::wstring& text, std::size_t& i)
{
    // Through 32 unsigned bits: wchar_t is signed on Linux.
    const auto unit = static_cast<std::uint32_t>(text[i++]);
    if (IsHighSurrogate(unit) && i < text.size()) {
        const auto low = static_cast<std::uint32_t>(text[i]);
        if (IsLowSurrogate(low)) {
            ++i;
            return static_cast<char32_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        }
    }
    if (IsSurrogate(unit) || unit > 0x10FFFF) return kReplacement;
    return static_cast<char32_t>(unit);
}

void AppendUtf8(char32_t c, std::string& out)
{
    if (c > 0x10FFFF || IsSurrogate(c)) c = kReplacement;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string WideToUtf8(const std::wstring& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) AppendUtf8(NextCodePoint(text, i), out);
    return out;
}

std::wstring Utf8ToWide(const std::string& bytes)
{
    std::wstring out;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        int extra = b >= 0xF8 ? -1 : b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
        std::uint32_t c = extra == 3 ? (b & 0x07) : extra == 2 ? (b & 0x0F) : extra == 1 ? (b & 0x1F) : b;
        ++i;
        if (extra < 0 || (b >= 0x80 && b < 0xC0)) {  // not a lead byte
            AppendCodePoint(out, kReplacement);
            continue;
        }
        for (int k = 0; k < extra; ++k, ++i) {
            if (i >= bytes.size() || (static_cast<unsigned char>(bytes[i]) & 0xC0) != 0x80) {
                c = kReplacement;
                break;
            }
            c = (c << 6) | (static_cast<unsigned char>(bytes[i]) & 0x3F);
        }
        AppendCodePoint(out, c);
    }
    return out;
}

}  // namespace core
