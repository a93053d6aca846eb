#include "core/launch/game_command_line.h"

namespace core {

std::optional<std::wstring> FormatGameCommandLine(const std::wstring& launcherCommandLine,
                                                  const std::wstring& parameters,
                                                  const std::wstring& customParameters,
                                                  const std::optional<std::wstring>& luaPath)
{
    std::wstring line = launcherCommandLine;
    line += L" --parameters=";
    line += parameters;
    line += L" --plat_extra=";
    line += customParameters;
    if (luaPath) {
        line += L" --luapath=";
        line += *luaPath;
    }
    if (line.size() > kMaxGameCommandLine) return std::nullopt;
    return line;
}

std::wstring FirstLuaPathLine(const std::wstring& fileText)
{
    std::wstring line;
    for (size_t i = 0; i < fileText.size() && line.size() < kMaxLuaPathLine; ++i) {
        const wchar_t c = fileText[i];
        if (c == L'\x1A') break;  // the end of a text file in text mode
        if (c == L'\r' && i + 1 < fileText.size() && fileText[i + 1] == L'\n') continue;
        line += c;
        if (c == L'\n') break;
    }
    return line;
}

}  // namespace core
