#include "core/profile/launcher_profile.h"

namespace core {

std::wstring MakeConfigUrl(const std::wstring& configHost, const std::wstring& ditchCode)
{
    // The channel code stands in the path twice: as a folder and in the file name.
    return L"http://" + configHost + L"/api/merth/ditches/" + ditchCode + L"/client_config_" +
           ditchCode + L".php";
}

std::wstring MakeErrorReportUrl(const std::wstring& statsHost)
{
    return L"http://" + statsHost + L"/api/laucher_error.php";
}

std::wstring MakeInfoReportUrl(const std::wstring& statsHost)
{
    return L"http://" + statsHost + L"/api/laucher_info.php";
}

}  // namespace core
