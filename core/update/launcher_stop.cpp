#include "core/update/launcher_stop.h"

#include <algorithm>

namespace core {

void LauncherStop::Request()
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_requested = true;
    for (std::atomic<bool>* flag : m_listeners) flag->store(true);
}

bool LauncherStop::Requested() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_requested;
}

LauncherStop::Listener::Listener(LauncherStop& stop, std::atomic<bool>& flag) : m_stop(stop), m_flag(flag)
{
    std::lock_guard<std::mutex> hold(m_stop.m_lock);
    m_stop.m_listeners.push_back(&m_flag);
    if (m_stop.m_requested) m_flag.store(true);
}

LauncherStop::Listener::~Listener()
{
    {
        std::lock_guard<std::mutex> hold(m_stop.m_lock);
        auto& listeners = m_stop.m_listeners;
        listeners.erase(std::find(listeners.begin(), listeners.end(), &m_flag));
    }
    m_stop.m_walkEnded.notify_all();
}

bool LauncherStop::WaitForWalk(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> hold(m_lock);
    return m_walkEnded.wait_for(hold, limit, [this] { return m_listeners.empty(); });
}

}  // namespace core
