#include "core/app/uninstall_commands.h"

namespace core {

std::wstring DelayedRemovalParameters(const std::wstring& directory)
{
    return L"/c ping 1.1.1.1 -n 3 -w 3000 > Nul & rmdir --ignore-fail-on-non-empty /q /s \"" + directory + L"\\\"";
}

std::wstring DefaultInstallDirForRemoval(const std::wstring& gameCode, const std::wstring& ditchCode)
{
    return L"c:\\\\" + gameCode + L"-" + ditchCode;
}

}  // namespace core
