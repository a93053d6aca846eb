// Comparing words of the launcher's own vocabulary ("true", "/uninstall", "FC") in any letter
// case. Only A to Z fold: the words are ASCII, and what a player's locale folds differently
// must not match them.
#pragma once
#include <string>

namespace core {

// True when text equals lowerWord with text's A to Z taken as a to z.
bool EqualsAsciiCaseless(const std::wstring& text, const std::wstring& lowerWord);

}  // namespace core
