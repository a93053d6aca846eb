#include "core/launch/launch_gate.h"

namespace core {

LaunchGate::LoginStep LaunchGate::Login(const std::wstring& result)
{
    LoginStep step;
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_bLogin) {
        step.alreadyLoggedIn = true;
        return step;
    }
    const LoginResult parsed = ParseLoginResult(result);
    step.kind = parsed.kind;
    if (parsed.kind != LoginResult::Kind::Accepted && parsed.kind != LoginResult::Kind::ThirdParty) return step;
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
