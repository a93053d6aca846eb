// The two things the game waits for: the update driver's readiness and the page's accepted
// login. Either may come first, on different threads (readiness on the update thread, the
// login on the window thread); whichever completes the pair is told to launch, and only that
// one, even when both arrive at the same moment. Both flags are never cleared.
#pragma once
#include <mutex>
#include <string>

#include "core/launch/login_result.h"

namespace core {

class LaunchGate {
public:
    struct LoginStep {
        bool alreadyLoggedIn = false;  // an earlier result was accepted: this one was not read
        LoginResult::Kind kind = LoginResult::Kind::Empty;
        bool launch = false;
    };

    // A login result from the page. Only an accepted result (or a third party's) sets the
    // login and its parameters; a rejected one leaves everything for a later try.
    LoginStep Login(const std::wstring& result);
    // The update is complete; true when the login was already accepted.
    bool Ready();

    bool IsReady() const;
    bool IsLoggedIn() const;
    std::wstring Parameters() const;

private:
    mutable std::mutex m_lock;
    int m_bReady = 0;
    int m_bLogin = 0;
    std::wstring m_strParameters;
};

}  // namespace core
