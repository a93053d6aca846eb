#include "bench/bench_support.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace bench {

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long StatusKiB(const char* key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    return -1;
}

ChildResult RunInChild(const std::function<bool()>& work)
{
    ChildResult r;
    int fds[2];
    if (pipe(fds) != 0) return r;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) return r;
    if (pid == 0) {
        close(fds[0]);
        bool reset = false;
        {
            std::ofstream clear("/proc/self/clear_refs");
            clear << "5";
            clear.flush();
            reset = static_cast<bool>(clear);
        }
        const long before = StatusKiB("VmRSS");
        const bool ok = work();
        long peak = (reset && before >= 0) ? StatusKiB("VmHWM") - before : -1;
        if (write(fds[1], &peak, sizeof peak) != static_cast<ssize_t>(sizeof peak)) _exit(2);
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    long peak = -1;
    const bool got = read(fds[0], &peak, sizeof peak) == static_cast<ssize_t>(sizeof peak);
    close(fds[0]);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return r;
    r.seconds = SecondsSince(start);
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    r.peakKiB = got ? peak : -1;
    return r;
}

namespace {

pid_t Spawn(const std::vector<std::string>& argv, const std::string& cwd)
{
    const pid_t pid = fork();
    if (pid != 0) return pid;
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

}  // namespace

int RunProgram(const std::vector<std::string>& argv, const std::string& cwd)
{
    const pid_t pid = Spawn(argv, cwd);
    if (pid < 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

BackgroundProgram::BackgroundProgram(const std::vector<std::string>& argv) : m_pid(Spawn(argv, {})) {}

BackgroundProgram::~BackgroundProgram()
{
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    int status = 0;
    waitpid(m_pid, &status, 0);
}

}  // namespace bench
