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
    std::wstring line = fileText.substr(0, fileText.find_first_of(L"\r\n"));
    if (line.size() > kMaxLuaPathLine) line.resize(kMaxLuaPathLine);
    return line;
}

}  // namespace core
