// Reading the launcher's own command line.
#pragma once
#include <string>

namespace core {

// The arguments part of a full command line, as a GUI program's entry point receives it: the
// program name (quoted or not) and the blanks after it are skipped.
std::wstring ArgumentsOfCommandLine(const std::wstring& fullCommandLine);

// True when the arguments are exactly "/uninstall", in any letter case and with nothing else.
bool IsUninstallCommand(const std::wstring& arguments);

}  // namespace core
