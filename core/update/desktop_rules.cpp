#include "core/update/desktop_rules.h"

#include "core/text/ascii_case.h"

namespace core {

bool IsNormalWindowSize(std::uint32_t width, std::uint32_t height)
{
    return height >= 180 && width >= 320 && height <= 10000 && width <= 10000;
}

bool SkipsDesktopShortcuts(const std::wstring& source)
{
    return EqualsAsciiCaseless(source, L"fc");
}

}  // namespace core
