#include "core/text/ascii_case.h"

namespace core {

bool EqualsAsciiCaseless(const std::wstring& text, const std::wstring& lowerWord)
{
    if (text.size() != lowerWord.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if ((c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c) != lowerWord[i]) return false;
    }
    return true;
}

}  // namespace core
