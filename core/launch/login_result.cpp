#include "core/launch/login_result.h"

namespace core {

namespace {

bool IsTrueIgnoringCase(const std::wstring& field)
{
    static const wchar_t kTrue[] = L"true";
    if (field.size() != 4) return false;
    for (size_t i = 0; i < 4; ++i) {
        wchar_t c = field[i];
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != kTrue[i]) return false;
    }
    return true;
}

}  // namespace

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
    if (!IsTrueIgnoringCase(result.substr(0, bar))) {
        parsed.kind = LoginResult::Kind::Rejected;
        return parsed;
    }
    const size_t secondBar = result.find(L'|', bar + 1);
    parsed.kind = LoginResult::Kind::Accepted;
    parsed.parameters = result.substr(bar + 1, secondBar == std::wstring::npos ? std::wstring::npos : secondBar - bar - 1);
    return parsed;
}

}  // namespace core
