// Fetching a page and taking from it what the stand-in uses: its title and its inline scripts.
#pragma once
#include <string>
#include <vector>

namespace standin {

// A colour as 0x00BBGGRR, the way GDI takes it.
using Colour = unsigned long;

struct Paragraph {
    std::wstring text;
    Colour colour = 0;
};

struct PageSource {
    bool fetched = false;
    std::wstring error;  // why it was not fetched
    std::wstring title;
    std::vector<std::wstring> scripts;  // inline <script> bodies, in page order
    // The page's text colour (the body's "text" or style colour): black unless it names one,
    // as in any browser.
    Colour textColour = 0;
    std::vector<Paragraph> paragraphs;  // <p> texts, each in its style colour or the page's
    std::vector<std::wstring> fields;   // ids of the page's <input> text fields, in page order
    std::vector<std::wstring> frames;   // src of the page's <iframe>s loaded with it, as written
    std::vector<std::wstring> lateFrames;  // those of them loaded lazily (loading="lazy")
};

// HTTP GET of the URL; the body is read as UTF-8.
PageSource FetchPage(const std::wstring& url);
// The title, inline scripts, colours, paragraphs, fields and frames of an HTML text; scripts
// with a src are left out.
void ParsePage(const std::wstring& html, PageSource& page);
// An address of the page (a frame's src) made absolute against the page's own address.
std::wstring ResolveUrl(const std::wstring& base, const std::wstring& reference);

}  // namespace standin
