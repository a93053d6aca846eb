#include "core/diag/report_url.h"

#include <algorithm>

#include "core/text/utf8_text.h"

namespace core {

namespace {

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

// %XX for each UTF-8 byte of the character: the same bytes WideToUtf8 gives for it.
void AppendUtf8Escaped(char32_t c, std::wstring& out)
{
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    std::string bytes;
    AppendUtf8(c, bytes);
    for (const char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        out.push_back(L'%');
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 0x0F]);
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
