#include "core/launch/login_result.h"

#include "core/text/ascii_case.h"

namespace core {

LoginResult ParseLoginResult(const std::wstring& result)
{
    LoginResult parsed;
    if (result.empty()) return parsed;

    const size_t bar = result.find(L'|');
    if (bar == std::wstring::npos) {
        parsed.kind = LoginResult::Kind::ThirdParty;
        parsed.parameters = result;
        return parsed;
    }
    if (!EqualsAsciiCaseless(result.substr(0, bar), L"true")) {
        parsed.kind = LoginResult::Kind::Rejected;
        return parsed;
    }
    const size_t secondBar = result.find(L'|', bar + 1);
    parsed.kind = LoginResult::Kind::Accepted;
    parsed.parameters = result.substr(bar + 1, secondBar == std::wstring::npos ? std::wstring::npos : secondBar - bar - 1);
    return parsed;
}

}  // namespace core
