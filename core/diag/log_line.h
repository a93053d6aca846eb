// The text log's line format and how its wide text becomes bytes in the file.
#pragma once
#include <ctime>
#include <string>

namespace core {

// The C runtime's ctime form without the newline: "Sat Mar 09 17:05:42 2024" (day of month
// always two digits). Formatted here so every platform writes the same text.
std::string CtimeText(const std::tm& localTime);

// "[time][level][function::line] text\n"
std::wstring FormatLogLine(const std::wstring& timeText, const std::wstring& level,
                           const std::wstring& function, int line, const std::wstring& text);

// Characters up to U+00FF become one byte each; every other UTF-16 code unit is written as
// the six characters \uXXXX (upper-case hex), so nothing is lost and no line is cut short.
// A character outside the BMP is written as its two surrogate escapes.
std::string EncodeLogText(const std::wstring& line);

}  // namespace core
