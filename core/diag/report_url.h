// The URLs of the reports sent to the statistics server: the event codes, the common
// fingerprint parameters in their fixed order, and the escaping of free-text values.
#pragma once
#include <cstddef>
#include <string>

#include "core/diag/report_events.h"

namespace core {

// The longest URL the request engine is given: the platform's URL limit (2084 characters
// including the terminator). The free-text values are cut to keep the URL within it.
constexpr std::size_t kMaxReportUrlChars = 2083;

// In a message report the escaped OS description never takes more than this, so the message
// always keeps most of the URL for itself.
constexpr std::size_t kMaxEscapedOsDescriptionChars = 512;

struct ReportFingerprint {
    std::wstring clientUid;
    std::wstring ditchName;
    std::wstring mac;
    std::wstring osDescription;
};

// "&ac=create", "&ac=download_start", "&ac=unzip_start", "&ac=game_start"; "" for other codes.
std::wstring EventQueryPart(int eventCode);

// Percent-encodes text as one query value: every character except letters, digits and
// "-_.~!*'():@," becomes %XX of its UTF-8 bytes, so the server receives the same bytes
// whatever the sender's code page, and "&", "=", "+", "%", "?", "/", "#" and blanks cannot
// change the query's structure. A lone surrogate is sent as U+FFFD. The result is at most
// maxChars long and is cut only between whole characters, never inside an escape.
std::wstring EscapeQueryValue(const std::wstring& text, std::size_t maxChars);

// infoUrl "?client_uid=" uid "&ditch_name=" ditch "&mac=" mac "&os_version=" escaped OS
// description, then the event's query part.
std::wstring EventReportUrl(const std::wstring& infoUrl, const ReportFingerprint& fingerprint, int eventCode);

// errorUrl with the same common parameters, then "&error_msg=" and the escaped message.
std::wstring MessageReportUrl(const std::wstring& errorUrl, const ReportFingerprint& fingerprint,
                              const std::wstring& message);

}  // namespace core
