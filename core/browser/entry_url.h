// The entry page's address: the channel's entry URL with the platform's query text appended
// unchanged, after "?" or, when the URL already has a query, "&".
#pragma once
#include <string>

namespace core {

std::wstring EntryUrlWithQuery(const std::wstring& entryUrl, const std::wstring& query);

}  // namespace core
