// The text an HTTP request is made of and how response header texts are read, apart from
// the platform calls that send and receive them.
#pragma once
#include <string>

namespace core {

// 0 "GET", 1 and 2 "POST", 3 "DELETE", anything else "GET".
const wchar_t* HttpVerbText(int verb);

// The extra header lines as given, then "Range: bytes=<offset>-\r\n" for a positive start
// offset. A negative offset cannot name a start and adds nothing.
std::wstring HttpRequestHeaderLines(const std::wstring& extraHeaders, int startOffset);

// A status code or content length text as a decimal number: its leading digits after any
// blanks; "" or no digits give 0, values beyond the int range give INT_MAX.
int ParseHeaderNumber(const std::wstring& text);

}  // namespace core
