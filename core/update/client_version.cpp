#include "core/update/client_version.h"

#include <cstdio>
#include <limits>

namespace core {

namespace {

template <class Char>
bool IsCSpace(Char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

template <class String>
std::int64_t ParseLeading(const String& text, std::int64_t min, std::int64_t max)
{
    std::size_t i = 0;
    while (i < text.size() && IsCSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // Accumulate as a negative magnitude so the most negative value fits.
    std::int64_t value = 0;
    bool clamped = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = static_cast<int>(text[i] - '0');
        if (value < (std::numeric_limits<std::int64_t>::min() + digit) / 10) {
            clamped = true;
            continue;
        }
        value = value * 10 - digit;
    }
    if (clamped) return negative ? min : max;
    if (!negative) {
        if (value < -max) return max;
        return -value;
    }
    return value < min ? min : value;
}

}  // namespace

std::int64_t ParseLeadingInteger(const std::wstring& text, std::int64_t min, std::int64_t max)
{
    return ParseLeading(text, min, max);
}

std::int64_t ParseLeadingInteger(const std::string& text, std::int64_t min, std::int64_t max)
{
    return ParseLeading(text, min, max);
}

LocalClientVersion ParseClientVersion(const std::wstring& text)
{
    LocalClientVersion v;
    std::size_t start = 0;
    for (int field = 0; field < 4 && start <= text.size(); ++field) {
        const std::size_t dot = text.find(L'.', start);
        const std::wstring part = text.substr(start, dot == std::wstring::npos ? std::wstring::npos : dot - start);
        v.parts[field] = static_cast<std::int32_t>(ParseLeadingInteger(
            part, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
        if (dot == std::wstring::npos) break;
        start = dot + 1;
    }
    return v;
}

std::wstring FormatClientVersion(const LocalClientVersion& v)
{
    wchar_t buf[64];
    std::swprintf(buf, sizeof buf / sizeof buf[0], L"%d.%d.%d.%d", static_cast<int>(v.parts[0]),
                  static_cast<int>(v.parts[1]), static_cast<int>(v.parts[2]), static_cast<int>(v.parts[3]));
    return buf;
}

int CompareClientVersions(const LocalClientVersion& a, const LocalClientVersion& b)
{
    for (int i = 0; i < 4; ++i)
        if (a.parts[i] != b.parts[i]) return a.parts[i] < b.parts[i] ? -1 : 1;
    return 0;
}

}  // namespace core
