#include "core/diag/log_line.h"

#include <cstdio>
#include <type_traits>

namespace core {

std::string CtimeText(const std::tm& t)
{
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const char* day = (t.tm_wday >= 0 && t.tm_wday < 7) ? kDays[t.tm_wday] : "???";
    const char* month = (t.tm_mon >= 0 && t.tm_mon < 12) ? kMonths[t.tm_mon] : "???";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s %s %02d %02d:%02d:%02d %d", day, month, t.tm_mday, t.tm_hour,
                  t.tm_min, t.tm_sec, t.tm_year + 1900);
    return buf;
}

std::wstring FormatLogLine(const std::wstring& timeText, const std::wstring& level,
                           const std::wstring& function, int line, const std::wstring& text)
{
    return L"[" + timeText + L"][" + level + L"][" + function + L"::" + std::to_wstring(line) + L"] " +
           text + L"\n";
}

namespace {

void AppendEscape(std::string& out, unsigned unit)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04X", unit & 0xFFFFu);
    out += buf;
}

}  // namespace

std::string EncodeLogText(const std::wstring& line)
{
    std::string out;
    out.reserve(line.size());
    for (wchar_t wc : line) {
        const auto c = static_cast<unsigned long>(static_cast<std::make_unsigned_t<wchar_t>>(wc));
        if (c <= 0xFF) {
            out += static_cast<char>(c);
        } else if (c > 0xFFFF) {  // 32-bit wchar_t: split into the surrogates UTF-16 would hold
            const unsigned long v = c - 0x10000;
            AppendEscape(out, static_cast<unsigned>(0xD800 + (v >> 10)));
            AppendEscape(out, static_cast<unsigned>(0xDC00 + (v & 0x3FF)));
        } else {
            AppendEscape(out, static_cast<unsigned>(c));
        }
    }
    return out;
}

}  // namespace core
