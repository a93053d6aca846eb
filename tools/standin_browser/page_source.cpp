#include "tools/standin_browser/page_source.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cwchar>
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

// The value of attribute name in a tag's text (lower case), "" when it has none.
std::wstring Attribute(const std::wstring& tag, const std::wstring& lowerTag, const std::wstring& name)
{
    for (size_t at = lowerTag.find(name + L"="); at != std::wstring::npos; at = lowerTag.find(name + L"=", at + 1)) {
        if (at > 0 && !iswspace(lowerTag[at - 1])) continue;
        size_t start = at + name.size() + 1;
        wchar_t quote = start < tag.size() && (tag[start] == L'"' || tag[start] == L'\'') ? tag[start] : 0;
        if (quote) ++start;
        size_t end = quote ? tag.find(quote, start) : tag.find_first_of(L" \t\r\n>", start);
        return tag.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    }
    return L"";
}

// "#rrggbb" alone or as a style's "color:" value; false when the text names no such colour.
bool ParseColour(const std::wstring& text, Colour& colour)
{
    std::wstring lower = Lower(text);
    const size_t named = lower.find(L"color:");
    if (named != std::wstring::npos) lower = lower.substr(named + 6);
    const size_t hash = lower.find(L'#');
    if (hash == std::wstring::npos || hash + 7 > lower.size()) return false;
    wchar_t* end = nullptr;
    const std::wstring digits = lower.substr(hash + 1, 6);
    const unsigned long rgb = std::wcstoul(digits.c_str(), &end, 16);
    if (end != digits.c_str() + 6) return false;
    colour = ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
    return true;
}

// Each <name ...> tag of the page: its text and its lower-case text.
template <class Visit>
void EachTag(const std::wstring& html, const std::wstring& lower, const std::wstring& name, Visit visit)
{
    const std::wstring open = L"<" + name;
    for (size_t at = lower.find(open); at != std::wstring::npos; at = lower.find(open, at + 1)) {
        const size_t next = at + open.size();
        if (next >= lower.size() || !(iswspace(lower[next]) || lower[next] == L'>' || lower[next] == L'/')) continue;
        const size_t end = lower.find(L'>', at);
        if (end == std::wstring::npos) return;
        visit(html.substr(at, end - at + 1), lower.substr(at, end - at + 1), end + 1);
    }
}

}  // namespace

std::wstring ResolveUrl(const std::wstring& base, const std::wstring& reference)
{
    if (reference.find(L"://") != std::wstring::npos) return reference;
    const size_t scheme = base.find(L"://");
    const size_t hostEnd = scheme == std::wstring::npos ? std::wstring::npos : base.find(L'/', scheme + 3);
    const std::wstring origin = base.substr(0, hostEnd);
    if (!reference.empty() && reference[0] == L'/') return origin + reference;
    const std::wstring path = base.substr(0, base.find_first_of(L"?#"));
    const size_t slash = path.rfind(L'/');
    return (slash == std::wstring::npos || slash < origin.size() ? origin + L"/" : path.substr(0, slash + 1)) +
           reference;
}

void ParsePage(const std::wstring& html, PageSource& page)
{
    const std::wstring lower = Lower(html);
    EachTag(html, lower, L"body", [&](const std::wstring& tag, const std::wstring& lowerTag, size_t) {
        if (!ParseColour(Attribute(tag, lowerTag, L"text"), page.textColour))
            ParseColour(Attribute(tag, lowerTag, L"style"), page.textColour);
    });
    EachTag(html, lower, L"p", [&](const std::wstring& tag, const std::wstring& lowerTag, size_t textStart) {
        Paragraph paragraph;
        if (!ParseColour(Attribute(tag, lowerTag, L"style"), paragraph.colour)) paragraph.colour = page.textColour;
        const size_t close = lower.find(L"</p>", textStart);
        paragraph.text = html.substr(textStart, close == std::wstring::npos ? std::wstring::npos : close - textStart);
        page.paragraphs.push_back(paragraph);
    });
    EachTag(html, lower, L"input", [&](const std::wstring& tag, const std::wstring& lowerTag, size_t) {
        const std::wstring type = Lower(Attribute(tag, lowerTag, L"type"));
        if (type.empty() || type == L"text" || type == L"password") page.fields.push_back(Attribute(tag, lowerTag, L"id"));
    });
    EachTag(html, lower, L"iframe", [&](const std::wstring& tag, const std::wstring& lowerTag, size_t) {
        const bool lazy = Lower(Attribute(tag, lowerTag, L"loading")) == L"lazy";
        (lazy ? page.lateFrames : page.frames).push_back(Attribute(tag, lowerTag, L"src"));
    });
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
