#include "tools/standin_browser/page_source.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cwctype>

namespace standin {

namespace {

struct InternetHandle {
    HINTERNET h;
    ~InternetHandle()
    {
        if (h) InternetCloseHandle(h);
    }
};

std::wstring Lower(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return static_cast<wchar_t>(towlower(c)); });
    return text;
}

std::wstring FromUtf8(const std::string& bytes)
{
    if (bytes.empty()) return L"";
    const int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], n);
    return text;
}

}  // namespace

void ParsePage(const std::wstring& html, PageSource& page)
{
    const std::wstring lower = Lower(html);
    const size_t titleOpen = lower.find(L"<title>");
    if (titleOpen != std::wstring::npos) {
        const size_t start = titleOpen + 7;
        const size_t end = lower.find(L"</title>", start);
        page.title = html.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    }
    for (size_t at = lower.find(L"<script"); at != std::wstring::npos; at = lower.find(L"<script", at + 1)) {
        const size_t tagEnd = lower.find(L'>', at);
        if (tagEnd == std::wstring::npos) break;
        const size_t close = lower.find(L"</script>", tagEnd);
        if (close == std::wstring::npos) break;
        if (lower.substr(at, tagEnd - at).find(L"src=") == std::wstring::npos)
            page.scripts.push_back(html.substr(tagEnd + 1, close - tagEnd - 1));
        at = close;
    }
}

PageSource FetchPage(const std::wstring& url)
{
    PageSource page;
    InternetHandle session{InternetOpenW(L"StandinBrowser", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0)};
    InternetHandle request{session.h ? InternetOpenUrlW(session.h, url.c_str(), nullptr, 0,
                                                        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
                                     : nullptr};
    if (!request.h) {
        page.error = L"cannot open the URL, error " + std::to_wstring(GetLastError());
        return page;
    }
    std::string body;
    char buffer[8192];
    DWORD got = 0;
    while (InternetReadFile(request.h, buffer, sizeof buffer, &got) && got > 0) body.append(buffer, got);
    page.fetched = true;
    ParsePage(FromUtf8(body), page);
    return page;
}

}  // namespace standin
