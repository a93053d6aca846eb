// Shared pieces of the benchmarks: running work in a forked child to measure its time and how
// far it raises the resident peak, running other programs, choosing where output goes, and
// comparing our side with a reference tool in alternating pairs.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace bench {

// How long one run took: wall time, and the processor time (user and system) of the process
// that did the work. Throughput is wall time; processor time shows the program's own work,
// which other load on the machine disturbs far less.
struct Timing {
    double seconds = 0;
    double cpuSeconds = 0;
    // Processor time that went to other processes than the benchmark's own meanwhile.
    double otherCpuSeconds = 0;
};

struct ChildResult {
    bool ok = false;
    Timing timing;
    long peakKiB = -1;  // resident peak beyond the child's size when the work began
};

// Runs work in a forked child: the child resets its resident peak (clear_refs 5) right before
// the work and reports how far the peak rose. ok is work's result.
ChildResult RunInChild(const std::function<bool()>& work);

// Runs a program and waits; its exit status, or -1.
int RunProgram(const std::vector<std::string>& argv, const std::string& cwd = {});

struct ProgramResult {
    int status = -1;  // exit status, or -1
    Timing timing;
};
// RunProgram, timed from before the start to after the end of the program.
ProgramResult TimeProgram(const std::vector<std::string>& argv);

// A program running in the background, ended (SIGTERM) and reaped by the destructor. Its
// standard output goes nowhere, so that it does not mix with the benchmark's figures; its
// errors still show.
class BackgroundProgram {
public:
    // processor: the one it is pinned to, or -1. It runs at the runs' raised priority where the
    // benchmark may raise it.
    explicit BackgroundProgram(const std::vector<std::string>& argv, int processor = -1);
    // Its scheduling priority (nice value), as it runs.
    int Nice() const;
    ~BackgroundProgram();
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;
    bool Running() const { return m_pid > 0; }

private:
    int m_pid = -1;
};

// Fixed processors and a raised priority for the runs. Left to itself, the scheduler puts a
// transfer and the channel server now on one processor, now on two, and the two placements
// differ by a third in time for the same program; and other work on the machine takes a share
// of the processor that differs from program to program.
struct Placement {
    int runs = -1;     // the benchmark and everything it runs, or -1: not pinned
    int helpers = -1;  // for background programs (the channel server), or -1
    int nice = 0;      // the priority the runs got
    std::string Describe() const;
};

// Pins this process, and so every run it starts, to the second processor it may use, keeps the
// first for background programs (pins nothing with fewer than two), and raises its priority
// where it may.
Placement PlaceRuns();

// A file of bytes of noise (incompressible, the same every time), kept when it has the size.
bool MakeNoiseFile(const std::filesystem::path& path, std::uint64_t bytes);

// Same length and bytes.
bool SameFileBytes(const std::filesystem::path& a, const std::filesystem::path& b);

// Where a benchmark writes its output. By default a folder of its own in /dev/shm, so that the
// figures are the software's and not the disk's (writeback of one run would otherwise land on
// the next); a folder asked for by hand, or the fallback on disk when /dev/shm lacks room.
// A folder made in /dev/shm is removed with this object.
class OutputFolder {
public:
    OutputFolder() = default;
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    // requested: the folder given on the command line, if any. tag names the /dev/shm folder.
    // needBytes: what must fit at one time. False, with the reason on stderr, when there is
    // no usable place.
    bool Choose(const std::optional<std::filesystem::path>& requested, const std::filesystem::path& fallback,
                const std::string& tag, std::uint64_t needBytes);

    const std::filesystem::path& Path() const { return m_path; }
    // "/dev/shm/... (tmpfs)" or "<folder> (disk)", for the benchmark's heading.
    std::string Describe() const;

private:
    std::filesystem::path m_path;
    bool m_tmpfs = false;
    bool m_owned = false;
};

// Writes back every dirty page, so that a run does not pay for an earlier one's files.
void FlushDisks();

// One run of one side: its times, or nothing when it failed (after saying why on stderr).
using TimedRun = std::function<std::optional<Timing>()>;

struct Comparison {
    std::vector<Timing> ours;       // per counted pair
    std::vector<Timing> reference;  // per counted pair
    Timing oursMedian;
    Timing referenceMedian;
    // Ratios of wall times, reference / ours: our throughput relative to the reference's.
    double ratioOfMedians = 0;
    // Of the per-pair ratios. The two runs of a pair meet nearly the same machine, so when the
    // machine's load changes during a benchmark, the median pair holds still where the ratio of
    // the medians, taken from different pairs on each side, jumps.
    double medianPairRatio = 0;
    double lowestPairRatio = 0;
    double highestPairRatio = 0;
    double cpuRatio = 0;         // the same of the medians of processor time
    double otherProcessors = 0;  // processors' worth of other work, on average over the counted runs
};

// Runs the two sides alternately, ours first in each pair: one warm-up pair that is not
// counted, then pairs counted pairs, each printed as it completes. Nothing when any run failed.
// Alternating spreads slow phases of the machine over both sides instead of one.
std::optional<Comparison> ComparePairs(int pairs, const std::string& oursLabel, const TimedRun& ours,
                                       const std::string& referenceLabel, const TimedRun& reference);

// The medians (with MiB/s when mebibytes > 0), the ratio of processor times and how much other
// work ran meanwhile.
void PrintComparison(const Comparison& c, const std::string& oursLabel, const std::string& referenceLabel,
                     double mebibytes);

// "<name> peak memory beyond its start: X MiB (goal < G MiB: met|missed)".
void PrintMemoryGoal(const std::string& what, long peakKiB, double goalMiB);

// The benchmark's last line: "<name>: ratio R (lo–hi), goal G: met|missed", R the median pair
// ratio, lo and hi the lowest and highest.
std::string SummaryLine(const std::string& name, const Comparison& c, double goal);

// --pairs N: at least 1.
std::optional<int> ParsePairs(const char* text);

}  // namespace bench
