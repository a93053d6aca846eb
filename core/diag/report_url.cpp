#include "core/diag/report_url.h"

#include <algorithm>
#include <cstdint>

namespace core {

namespace {

constexpr char32_t kReplacementChar = 0xFFFD;

bool KeptAsIs(char32_t c)
{
    if ((c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || (c >= U'0' && c <= U'9')) return true;
    switch (c) {
    case U'-': case U'_': case U'.': case U'~': case U'!': case U'*': case U'\'': case U'(': case U')':
    case U':': case U'@': case U',':
        return true;
    default:
        return false;
    }
}

// The next code point of a wide string (UTF-16 on Windows, UTF-32 elsewhere), advancing i.
char32_t NextCodePoint(const std::wstring& text, std::size_t& i)
{
    const std::uint32_t unit = static_cast<std::uint32_t>(text[i++]);
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        if (i < text.size()) {
            const std::uint32_t low = static_cast<std::uint32_t>(text[i]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                ++i;
                return static_cast<char32_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
            }
        }
        return kReplacementChar;
    }
    if ((unit >= 0xDC00 && unit <= 0xDFFF) || unit > 0x10FFFF) return kReplacementChar;
    return static_cast<char32_t>(unit);
}

void AppendUtf8Escaped(char32_t c, std::wstring& out)
{
    std::uint8_t bytes[4];
    int n;
    if (c < 0x80) {
        bytes[0] = static_cast<std::uint8_t>(c);
        n = 1;
    } else if (c < 0x800) {
        bytes[0] = static_cast<std::uint8_t>(0xC0 | (c >> 6));
        bytes[1] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
        n = 2;
    } else if (c < 0x10000) {
        bytes[0] = static_cast<std::uint8_t>(0xE0 | (c >> 12));
        bytes[1] = static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F));
        bytes[2] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
        n = 3;
    } else {
        bytes[0] = static_cast<std::uint8_t>(0xF0 | (c >> 18));
        bytes[1] = static_cast<std::uint8_t>(0x80 | ((c >> 12) & 0x3F));
        bytes[2] = static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F));
        bytes[3] = static_cast<std::uint8_t>(0x80 | (c & 0x3F));
        n = 4;
    }
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    for (int k = 0; k < n; ++k) {
        out.push_back(L'%');
        out.push_back(kHex[bytes[k] >> 4]);
        out.push_back(kHex[bytes[k] & 0x0F]);
    }
}

std::wstring CommonParameters(const std::wstring& baseUrl, const ReportFingerprint& fp)
{
    return baseUrl + L"?client_uid=" + fp.clientUid + L"&ditch_name=" + fp.ditchName + L"&mac=" + fp.mac +
           L"&os_version=";
}

std::size_t Room(const std::wstring& soFar, std::size_t reserved)
{
    const std::size_t used = soFar.size() + reserved;
    return used >= kMaxReportUrlChars ? 0 : kMaxReportUrlChars - used;
}

}  // namespace

std::wstring EventQueryPart(int eventCode)
{
    switch (eventCode) {
    case kEventCreate: return L"&ac=create";
    case kEventDownloadStart: return L"&ac=download_start";
    case kEventUnzipStart: return L"&ac=unzip_start";
    case kEventGameStart: return L"&ac=game_start";
    default: return L"";
    }
}

std::wstring EscapeQueryValue(const std::wstring& text, std::size_t maxChars)
{
    std::wstring out;
    std::wstring piece;
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = NextCodePoint(text, i);
        piece.clear();
        if (KeptAsIs(c))
            piece.push_back(static_cast<wchar_t>(c));
        else
            AppendUtf8Escaped(c, piece);
        if (out.size() + piece.size() > maxChars) break;
        out += piece;
    }
    return out;
}

std::wstring EventReportUrl(const std::wstring& infoUrl, const ReportFingerprint& fingerprint, int eventCode)
{
    std::wstring url = CommonParameters(infoUrl, fingerprint);
    const std::wstring eventPart = EventQueryPart(eventCode);
    // No message follows: the OS description may take all the room there is.
    url += EscapeQueryValue(fingerprint.osDescription, Room(url, eventPart.size()));
    return url + eventPart;
}

std::wstring MessageReportUrl(const std::wstring& errorUrl, const ReportFingerprint& fingerprint,
                              const std::wstring& message)
{
    static const std::wstring kMessageKey = L"&error_msg=";
    std::wstring url = CommonParameters(errorUrl, fingerprint);
    url += EscapeQueryValue(fingerprint.osDescription,
                            std::min(kMaxEscapedOsDescriptionChars, Room(url, kMessageKey.size())));
    url += kMessageKey;
    return url + EscapeQueryValue(message, Room(url, 0));
}

}  // namespace core
