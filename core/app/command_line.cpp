#include "core/app/command_line.h"

#include "core/text/ascii_case.h"

namespace core {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

}  // namespace

std::wstring ArgumentsOfCommandLine(const std::wstring& cmd)
{
    std::size_t i = 0;
    if (i < cmd.size() && cmd[i] == L'"') {
        ++i;
        while (i < cmd.size() && cmd[i] != L'"') ++i;
        if (i < cmd.size()) ++i;  // the closing quote
    } else {
        while (i < cmd.size() && !IsBlank(cmd[i])) ++i;
    }
    while (i < cmd.size() && IsBlank(cmd[i])) ++i;
    return cmd.substr(i);
}

bool IsUninstallCommand(const std::wstring& arguments) { return EqualsAsciiCaseless(arguments, L"/uninstall"); }

}  // namespace core
