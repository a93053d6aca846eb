#include "core/launch/launch_gate.h"

namespace core {

LaunchGate::LoginStep LaunchGate::Login(const std::wstring& result)
{
    using Outcome = LoginStep::Outcome;
    LoginStep step;
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_bLogin) {
        step.outcome = Outcome::AlreadyLoggedIn;
        return step;
    }
    const LoginResult parsed = ParseLoginResult(result);
    switch (parsed.kind) {
    case LoginResult::Kind::Empty:
        step.outcome = Outcome::Empty;
        return step;
    case LoginResult::Kind::Rejected:
        step.outcome = Outcome::Rejected;
        return step;
    case LoginResult::Kind::Accepted:
        step.outcome = Outcome::Accepted;
        break;
    case LoginResult::Kind::ThirdParty:
        step.outcome = Outcome::ThirdParty;
        break;
    }
    m_bLogin = 1;
    m_strParameters = parsed.parameters;
    step.launch = m_bReady != 0;
    return step;
}

bool LaunchGate::Ready()
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_bReady = 1;
    return m_bLogin != 0;
}

bool LaunchGate::IsReady() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_bReady != 0;
}

bool LaunchGate::IsLoggedIn() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_bLogin != 0;
}

std::wstring LaunchGate::Parameters() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_strParameters;
}

}  // namespace core
