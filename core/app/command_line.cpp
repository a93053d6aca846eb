#include "core/app/command_line.h"

namespace core {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

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

bool IsUninstallCommand(const std::wstring& arguments)
{
    static const std::wstring kWord = L"/uninstall";
    if (arguments.size() != kWord.size()) return false;
    for (std::size_t i = 0; i < kWord.size(); ++i)
        if (AsciiLower(arguments[i]) != kWord[i]) return false;
    return true;
}

}  // namespace core
