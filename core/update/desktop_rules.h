// Decisions of the desktop integration that need no Windows.
#pragma once
#include <cstdint>
#include <string>

namespace core {

// The game's stored window size is usable when, compared as unsigned numbers, the width lies
// in 320..10000 and the height in 180..10000.
bool IsNormalWindowSize(std::uint32_t width, std::uint32_t height);

// A platform "source" of "FC", in any letter case, keeps the start-menu and desktop links away.
bool SkipsDesktopShortcuts(const std::wstring& source);

}  // namespace core
