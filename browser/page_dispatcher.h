// The page bridge's dispatcher: what a method name and its parameter string from the entry
// page's script turn into. "LoginResult" hands the result to the login (the game launch's),
// "GetCommandLine" answers the launcher's program path; any other name does nothing.
#pragma once
#include <functional>
#include <string>

class PageDispatcher {
public:
    using LoginHandler = std::function<void(const std::wstring& result)>;

    explicit PageDispatcher(LoginHandler onLoginResult) : m_onLoginResult(std::move(onLoginResult)) {}

    std::wstring JavascriptToCPLUSPLUS(const std::wstring& method, const std::wstring& params) const;

private:
    LoginHandler m_onLoginResult;
};
