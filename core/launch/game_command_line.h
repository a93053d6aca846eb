// The game's command line: everything the launcher itself was started with, followed by the
// player's login parameters, the channel's custom parameters and, when the launcher's folder
// has "luapath.txt", the path its first line names. Values go in unchanged, unquoted.
#pragma once
#include <optional>
#include <string>

namespace core {

// The longest command line CreateProcess takes, without its terminating zero.
constexpr size_t kMaxGameCommandLine = 32766;
// How much of the first line of "luapath.txt" is used.
constexpr size_t kMaxLuaPathLine = 259;

// "<launcher> --parameters=<p> --plat_extra=<c>[ --luapath=<l>]", or nothing when the
// result would be longer than a process may be given.
std::optional<std::wstring> FormatGameCommandLine(const std::wstring& launcherCommandLine,
                                                  const std::wstring& parameters,
                                                  const std::wstring& customParameters,
                                                  const std::optional<std::wstring>& luaPath);

// The first line of the file's text as one text-mode read of at most kMaxLuaPathLine
// characters gives it: CR LF reads as LF, and the LF that ends the line within that count stays
// part of the value (the game has always received it so); a lone CR is an ordinary character,
// and a Ctrl+Z ends the text.
std::wstring FirstLuaPathLine(const std::wstring& fileText);

}  // namespace core
