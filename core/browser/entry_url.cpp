#include "core/browser/entry_url.h"

namespace core {

std::wstring EntryUrlWithQuery(const std::wstring& entryUrl, const std::wstring& query)
{
    if (query.empty()) return entryUrl;
    return entryUrl + (entryUrl.find(L'?') == std::wstring::npos ? L"?" : L"&") + query;
}

}  // namespace core
