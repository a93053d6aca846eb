// Shared pieces of the benchmarks: running work in a forked child to measure its time and how
// far it raises the resident peak, and running other programs.
#pragma once
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace bench {

struct ChildResult {
    bool ok = false;
    double seconds = 0;
    long peakKiB = -1;  // resident peak beyond the child's size when the work began
};

// Runs work in a forked child: the child resets its resident peak (clear_refs 5) right before
// the work and reports how far the peak rose. ok is work's result.
ChildResult RunInChild(const std::function<bool()>& work);

// Runs a program and waits; its exit status, or -1.
int RunProgram(const std::vector<std::string>& argv, const std::string& cwd = {});

// A program running in the background, ended (SIGTERM) and reaped by the destructor.
class BackgroundProgram {
public:
    explicit BackgroundProgram(const std::vector<std::string>& argv);
    ~BackgroundProgram();
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;
    bool Running() const { return m_pid > 0; }

private:
    int m_pid = -1;
};

double SecondsSince(std::chrono::steady_clock::time_point start);

// A value from /proc/self/status in KiB ("VmRSS", "VmHWM"), or -1.
long StatusKiB(const char* key);

}  // namespace bench
