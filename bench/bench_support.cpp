#include "bench/bench_support.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sched.h>
#include <signal.h>
#include <sys/statfs.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

namespace bench {

namespace {

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

// The runs and their helpers take their processors ahead of other work. Sharing a processor as
// an equal, a run gets what the scheduler leaves it, and that differed by program: beside two
// busy processes the pipeline ran a third of its wall time and curl half of it, so the ratio
// followed the load rather than the programs. The channel server, a fifth of a processor during
// a transfer, fell behind in bursts and kept the faster client waiting. Raising needs the right
// to (root); without it nothing is raised, and the heading says so.
constexpr int kRaisedNice = -10;

double TimevalSeconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

// Busy time of all processors so far, in seconds, from /proc/stat.
bool BusySeconds(double& seconds)
{
    std::ifstream in("/proc/stat");
    std::string cpu;
    unsigned long long user, nice, system, idle, iowait, irq, softirq, steal;
    if (!(in >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal) || cpu != "cpu")
        return false;
    seconds = static_cast<double>(user + nice + system + irq + softirq + steal) / static_cast<double>(sysconf(_SC_CLK_TCK));
    return true;
}

// Background programs of the benchmark (the channel server): their work is part of a run.
std::vector<pid_t>& Helpers()
{
    static std::vector<pid_t> pids;
    return pids;
}

// Processor time of the benchmark, its waited-for children and its background programs.
double OwnSeconds()
{
    double seconds = 0;
    struct rusage usage {};
    if (getrusage(RUSAGE_SELF, &usage) == 0) seconds += TimevalSeconds(usage.ru_utime) + TimevalSeconds(usage.ru_stime);
    if (getrusage(RUSAGE_CHILDREN, &usage) == 0)
        seconds += TimevalSeconds(usage.ru_utime) + TimevalSeconds(usage.ru_stime);
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    for (const pid_t pid : Helpers()) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
        std::string text;
        std::getline(in, text);
        // utime and stime are the 12th and 13th fields after the parenthesised command name.
        const std::size_t close = text.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream fields(text.substr(close + 1));
        std::string field;
        unsigned long long utime = 0, stime = 0;
        for (int i = 1; i <= 11 && fields >> field; ++i) {
        }
        if (fields >> utime >> stime) seconds += static_cast<double>(utime + stime) / tick;
    }
    return seconds;
}

// Processor time that went to anything but the benchmark while one run went on: other people's
// work competing for the processors.
class OtherWorkMeter {
public:
    OtherWorkMeter() : m_own(OwnSeconds()) { m_valid = BusySeconds(m_busy); }
    double Stop() const
    {
        double busy = 0;
        if (!m_valid || !BusySeconds(busy)) return 0;
        return std::max(0.0, (busy - m_busy) - (OwnSeconds() - m_own));
    }

private:
    double m_own;
    double m_busy = 0;
    bool m_valid = false;
};

// Waits for pid and fills in its times; false when the wait failed.
bool WaitTimed(pid_t pid, std::chrono::steady_clock::time_point start, const OtherWorkMeter& meter, int& status,
               Timing& timing)
{
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid) return false;
    timing.seconds = SecondsSince(start);
    timing.cpuSeconds = TimevalSeconds(usage.ru_utime) + TimevalSeconds(usage.ru_stime);
    timing.otherCpuSeconds = meter.Stop();
    return true;
}

}  // namespace

ChildResult RunInChild(const std::function<bool()>& work)
{
    ChildResult r;
    int fds[2];
    if (pipe(fds) != 0) return r;
    const OtherWorkMeter meter;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return r;
    }
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
    if (!WaitTimed(pid, start, meter, status, r.timing)) return r;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    r.peakKiB = got ? peak : -1;
    return r;
}

namespace {

bool PinTo(pid_t pid, int processor)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(processor, &set);
    return sched_setaffinity(pid, sizeof set, &set) == 0;
}

// What a background program gets: its output silenced, a processor, a raised priority.
struct HelperSetup {
    bool quiet = false;
    int processor = -1;
    bool raised = false;
};

pid_t Spawn(const std::vector<std::string>& argv, const std::string& cwd, const HelperSetup& setup = {})
{
    const pid_t pid = fork();
    if (pid != 0) return pid;
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
    if (setup.processor >= 0 && !PinTo(0, setup.processor)) _exit(127);
    if (setup.raised) setpriority(PRIO_PROCESS, 0, kRaisedNice);
    if (setup.quiet) {
        const int null = open("/dev/null", O_WRONLY);
        if (null < 0 || dup2(null, STDOUT_FILENO) < 0) _exit(127);
        close(null);
    }
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

ProgramResult TimeProgram(const std::vector<std::string>& argv)
{
    ProgramResult r;
    const OtherWorkMeter meter;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = Spawn(argv, {});
    int status = 0;
    if (pid < 0 || !WaitTimed(pid, start, meter, status, r.timing)) return r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

Placement PlaceRuns()
{
    Placement placement;
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return placement;
    std::vector<int> processors;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &allowed)) processors.push_back(cpu);
    setpriority(PRIO_PROCESS, 0, kRaisedNice);
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, 0);
    placement.nice = errno == 0 ? nice : 0;
    if (processors.size() < 2 || !PinTo(0, processors[1])) return placement;
    placement.runs = processors[1];
    placement.helpers = processors[0];
    return placement;
}

std::string Placement::Describe() const
{
    std::string text = runs < 0 ? "runs not pinned (fewer than two processors)" : "runs on processor " + std::to_string(runs);
    text += " at nice " + std::to_string(nice);
    if (nice > kRaisedNice) text += " (not allowed to raise it: other work shares the processor as an equal)";
    return text;
}

BackgroundProgram::BackgroundProgram(const std::vector<std::string>& argv, int processor)
    : m_pid(Spawn(argv, {}, HelperSetup{true, processor, true}))
{
    if (m_pid > 0) Helpers().push_back(m_pid);
}

int BackgroundProgram::Nice() const
{
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(m_pid));
    return errno == 0 ? nice : 0;
}

BackgroundProgram::~BackgroundProgram()
{
    if (m_pid <= 0) return;
    Helpers().erase(std::remove(Helpers().begin(), Helpers().end(), m_pid), Helpers().end());
    kill(m_pid, SIGTERM);
    int status = 0;
    waitpid(m_pid, &status, 0);
}

bool MakeNoiseFile(const std::filesystem::path& path, std::uint64_t bytes)
{
    std::error_code ec;
    if (std::filesystem::exists(path, ec) && std::filesystem::file_size(path, ec) == bytes) return true;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<std::uint64_t> block(1 << 17);  // 1 MiB of noise, varied per block
    std::uint64_t x = 88172645463325252ull;
    for (std::uint64_t written = 0; written < bytes && out; written += block.size() * 8) {
        for (auto& v : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            v = x;
        }
        out.write(reinterpret_cast<const char*>(block.data()),
                  static_cast<std::streamsize>(std::min<std::uint64_t>(block.size() * 8, bytes - written)));
    }
    return static_cast<bool>(out);
}

bool SameFileBytes(const std::filesystem::path& a, const std::filesystem::path& b)
{
    std::error_code ea, eb;
    const auto sizeA = std::filesystem::file_size(a, ea);
    const auto sizeB = std::filesystem::file_size(b, eb);
    if (ea || eb || sizeA != sizeB) return false;
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    std::vector<char> bufA(1 << 20), bufB(1 << 20);
    while (fa && fb) {
        fa.read(bufA.data(), static_cast<std::streamsize>(bufA.size()));
        fb.read(bufB.data(), static_cast<std::streamsize>(bufB.size()));
        if (fa.gcount() != fb.gcount() ||
            std::memcmp(bufA.data(), bufB.data(), static_cast<std::size_t>(fa.gcount())) != 0)
            return false;
    }
    return fa.eof() && fb.eof();
}

void FlushDisks() { sync(); }

namespace {

std::int64_t FreeBytes(const std::filesystem::path& path)
{
    struct statvfs fs {};
    if (statvfs(path.c_str(), &fs) != 0) return -1;
    return static_cast<std::int64_t>(fs.f_bavail) * static_cast<std::int64_t>(fs.f_frsize);
}

namespace fs = std::filesystem;

const fs::path kShm = "/dev/shm";
// Room left over in /dev/shm beyond the benchmark's own files, for everyone else using it.
constexpr std::uint64_t kShmReserveBytes = 256ull << 20;

bool IsTmpfs(const fs::path& path)
{
    struct statfs info {};
    return statfs(path.c_str(), &info) == 0 && info.f_type == TMPFS_MAGIC;
}

std::string MiB(std::uint64_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

// A run stopped by a signal leaves its folder behind, and in /dev/shm that holds memory until
// the machine restarts: folders of processes that are gone are removed.
void RemoveStaleFolders(const std::string& tag)
{
    std::error_code ec;
    const std::string prefix = tag + "-";
    for (const auto& e : fs::directory_iterator(kShm, ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind(prefix, 0) != 0) continue;
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        fs::remove_all(e.path(), ec);
    }
}

bool HasRoom(const fs::path& dir, std::uint64_t needBytes)
{
    const std::int64_t free = FreeBytes(dir);
    return free >= 0 && static_cast<std::uint64_t>(free) >= needBytes;
}

}  // namespace

OutputFolder::~OutputFolder()
{
    std::error_code ec;
    if (m_owned) fs::remove_all(m_path, ec);
}

bool OutputFolder::Choose(const std::optional<fs::path>& requested, const fs::path& fallback, const std::string& tag,
                          std::uint64_t needBytes)
{
    std::error_code ec;
    if (requested) {
        fs::create_directories(*requested, ec);
        if (!fs::is_directory(*requested)) {
            std::cerr << "cannot make the output folder " << *requested << "\n";
            return false;
        }
        if (!HasRoom(*requested, needBytes)) {
            std::cerr << requested->string() << " has " << MiB(static_cast<std::uint64_t>(FreeBytes(*requested)))
                      << " free, the benchmark needs " << MiB(needBytes) << "\n";
            return false;
        }
        m_path = *requested;
        m_tmpfs = IsTmpfs(m_path);
        return true;
    }
    if (fs::is_directory(kShm, ec)) {
        RemoveStaleFolders(tag);
        if (HasRoom(kShm, needBytes + kShmReserveBytes)) {
            m_path = kShm / (tag + "-" + std::to_string(getpid()));
            fs::remove_all(m_path, ec);
            if (fs::create_directories(m_path, ec)) {
                m_owned = true;
                m_tmpfs = IsTmpfs(m_path);
                return true;
            }
        }
        const std::int64_t free = FreeBytes(kShm);
        std::cout << "note: /dev/shm has " << MiB(free < 0 ? 0 : static_cast<std::uint64_t>(free)) << " free, "
                  << MiB(needBytes + kShmReserveBytes) << " wanted; writing to " << fallback.string()
                  << " on disk instead, so the figures include the disk (a smaller size fits: see the options)\n";
    } else {
        std::cout << "note: no /dev/shm; writing to " << fallback.string() << " on disk\n";
    }
    fs::create_directories(fallback, ec);
    if (!HasRoom(fallback, needBytes)) {
        std::cerr << fallback.string() << " lacks room for " << MiB(needBytes) << "\n";
        return false;
    }
    m_path = fallback;
    m_tmpfs = IsTmpfs(m_path);
    return true;
}

std::string OutputFolder::Describe() const { return m_path.string() + (m_tmpfs ? " (tmpfs)" : " (disk)"); }

namespace {
double Median(std::vector<double> values)
{
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}
}  // namespace

std::optional<Comparison> ComparePairs(int pairs, const std::string& oursLabel, const TimedRun& ours,
                                       const std::string& referenceLabel, const TimedRun& reference)
{
    Comparison c;
    for (int pair = 0; pair <= pairs; ++pair) {
        const std::optional<Timing> a = ours();
        if (!a) return std::nullopt;
        const std::optional<Timing> b = reference();
        if (!b) return std::nullopt;
        if (pair == 0) {
            std::printf("warm-up:  %s %.3f s, %s %.3f s (not counted)\n", oursLabel.c_str(), a->seconds,
                        referenceLabel.c_str(), b->seconds);
        } else {
            std::printf("pair %d/%d: %s %.3f s, %s %.3f s, ratio %.2f\n", pair, pairs, oursLabel.c_str(), a->seconds,
                        referenceLabel.c_str(), b->seconds, b->seconds / a->seconds);
            c.ours.push_back(*a);
            c.reference.push_back(*b);
        }
        std::fflush(stdout);
    }
    const auto medians = [](const std::vector<Timing>& runs) {
        std::vector<double> wall, cpu;
        for (const Timing& t : runs) {
            wall.push_back(t.seconds);
            cpu.push_back(t.cpuSeconds);
        }
        return Timing{Median(wall), Median(cpu)};
    };
    c.oursMedian = medians(c.ours);
    c.referenceMedian = medians(c.reference);
    c.ratioOfMedians = c.referenceMedian.seconds / c.oursMedian.seconds;
    c.cpuRatio = c.referenceMedian.cpuSeconds / c.oursMedian.cpuSeconds;
    double wall = 0, other = 0;
    for (const auto* runs : {&c.ours, &c.reference})
        for (const Timing& t : *runs) {
            wall += t.seconds;
            other += t.otherCpuSeconds;
        }
    c.otherProcessors = other / wall;
    std::vector<double> pairRatios;
    for (std::size_t i = 0; i < c.ours.size(); ++i) pairRatios.push_back(c.reference[i].seconds / c.ours[i].seconds);
    c.medianPairRatio = Median(pairRatios);
    c.lowestPairRatio = *std::min_element(pairRatios.begin(), pairRatios.end());
    c.highestPairRatio = *std::max_element(pairRatios.begin(), pairRatios.end());
    return c;
}

void PrintComparison(const Comparison& c, const std::string& oursLabel, const std::string& referenceLabel,
                     double mebibytes)
{
    const auto line = [&](const std::string& label, const Timing& t) {
        std::printf("%s: median %.3f s", label.c_str(), t.seconds);
        if (mebibytes > 0) std::printf(" (%.0f MiB/s)", mebibytes / t.seconds);
        std::printf(", processor time %.3f s\n", t.cpuSeconds);
    };
    line(oursLabel, c.oursMedian);
    line(referenceLabel, c.referenceMedian);
    std::printf("ratio of the medians %s/%s: %.2f\n", referenceLabel.c_str(), oursLabel.c_str(), c.ratioOfMedians);
    std::printf("ratio of processor times %s/%s: %.2f\n", referenceLabel.c_str(), oursLabel.c_str(), c.cpuRatio);
    // Some kernel work outside any process counts as other work: below a tenth of a processor
    // is a quiet machine.
    std::printf("other work beside the counted runs: %.2f of %ld processors on average%s\n", c.otherProcessors,
                sysconf(_SC_NPROCESSORS_ONLN),
                c.otherProcessors >= 0.25 ? " (the machine is busy: wall times and their ratio shift with its load)" : "");
}

void PrintMemoryGoal(const std::string& what, long peakKiB, double goalMiB)
{
    if (peakKiB < 0) {
        std::printf("%s peak memory: not measurable here (/proc/self/clear_refs unavailable)\n", what.c_str());
        return;
    }
    const double mib = static_cast<double>(peakKiB) / 1024.0;
    std::printf("%s peak memory beyond its start: %.1f MiB (goal < %.0f MiB: %s)\n", what.c_str(), mib, goalMiB,
                mib < goalMiB ? "met" : "missed");
}

std::string SummaryLine(const std::string& name, const Comparison& c, double goal)
{
    // Judged on the figure as printed, so that the line never reads "0.95 ... goal 0.95: missed".
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%.2f", c.medianPairRatio);
    const bool met = std::strtod(ratio, nullptr) >= goal - 1e-9;
    char text[200];
    std::snprintf(text, sizeof text, "%s: ratio %s (%.2f\u2013%.2f), goal %.2f: %s", name.c_str(), ratio,
                  c.lowestPairRatio, c.highestPairRatio, goal, met ? "met" : "missed");
    return text;
}

std::optional<int> ParsePairs(const char* text)
{
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || n < 1 || n > 1000) return std::nullopt;
    return static_cast<int>(n);
}

}  // namespace bench
