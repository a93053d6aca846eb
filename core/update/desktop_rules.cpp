#include "core/update/desktop_rules.h"

namespace core {

bool IsNormalWindowSize(std::uint32_t width, std::uint32_t height)
{
    return height >= 180 && width >= 320 && height <= 10000 && width <= 10000;
}

bool SkipsDesktopShortcuts(const std::wstring& source)
{
    return source.size() == 2 && (source[0] == L'F' || source[0] == L'f') && (source[1] == L'C' || source[1] == L'c');
}

}  // namespace core
