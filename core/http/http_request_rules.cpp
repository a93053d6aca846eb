#include "core/http/http_request_rules.h"

#include <climits>

namespace core {

const wchar_t* HttpVerbText(int verb)
{
    switch (verb) {
    case 1:
    case 2: return L"POST";
    case 3: return L"DELETE";
    default: return L"GET";
    }
}

std::wstring HttpRequestHeaderLines(const std::wstring& extraHeaders, int startOffset)
{
    std::wstring lines = extraHeaders;
    if (startOffset > 0) lines += L"Range: bytes=" + std::to_wstring(startOffset) + L"-\r\n";
    return lines;
}

int ParseHeaderNumber(const std::wstring& text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
    long long value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > INT_MAX) return INT_MAX;
    }
    return static_cast<int>(value);
}

}  // namespace core
