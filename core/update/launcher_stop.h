// The launcher's stop: set once when its window closes, heard by the package walk, which then
// ends its copies within one block and removes the files under way. The launcher waits for
// that, a bounded time, before the process ends.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace core {

class LauncherStop {
public:
    // From any thread; stays set.
    void Request();
    bool Requested() const;

    // While a listener lives, the stop sets its flag as well: at once when the stop came
    // before. The walk listens from its first write to the end of its last.
    class Listener {
    public:
        Listener(LauncherStop& stop, std::atomic<bool>& flag);
        ~Listener();
        Listener(const Listener&) = delete;
        Listener& operator=(const Listener&) = delete;

    private:
        LauncherStop& m_stop;
        std::atomic<bool>& m_flag;
    };

    // Waits until no listener is left, at most `limit`; true when none is. A write that the
    // system holds up must not keep the process from ending.
    bool WaitForWalk(std::chrono::milliseconds limit);

private:
    mutable std::mutex m_lock;
    std::condition_variable m_walkEnded;
    bool m_requested = false;
    std::vector<std::atomic<bool>*> m_listeners;
};

}  // namespace core
