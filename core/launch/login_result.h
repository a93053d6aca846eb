// The entry page's login result: "true|<parameters>" when the page's own login succeeded, any
// other first field when it failed, and a text without "|" when a third party handled it.
#pragma once
#include <string>

namespace core {

struct LoginResult {
    enum class Kind {
        Empty,       // nothing was passed
        Rejected,    // the first field is not "true"
        Accepted,    // "true|<parameters>"
        ThirdParty,  // no "|": the whole text is the parameters
    };
    Kind kind = Kind::Empty;
    std::wstring parameters;
};

// Splits at "|": the first field must be "true" in any letter case; the parameters are the
// second field, up to a second "|" when there is one.
LoginResult ParseLoginResult(const std::wstring& result);

}  // namespace core
