// Fetching a page and taking from it what the stand-in uses: its title and its inline scripts.
#pragma once
#include <string>
#include <vector>

namespace standin {

struct PageSource {
    bool fetched = false;
    std::wstring error;  // why it was not fetched
    std::wstring title;
    std::vector<std::wstring> scripts;  // inline <script> bodies, in page order
};

// HTTP GET of the URL; the body is read as UTF-8.
PageSource FetchPage(const std::wstring& url);
// The title and the inline scripts of an HTML text; scripts with a src are left out.
void ParsePage(const std::wstring& html, PageSource& page);

}  // namespace standin
