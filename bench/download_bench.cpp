// How fast and how lean the package transfer is next to the curl command-line tool: both fetch
// the same file (1 GiB by default) from the channel server on loopback, in alternating pairs.
// The file to serve is made once into a cache folder of the build tree; the transfers write
// into /dev/shm unless --out names a folder, so that the software is measured, not the disk.
//
//   download_bench [--mib N] [--pairs N] [--out DIR] [--cache DIR]
//
// Prints each pair, the median time of each side, the peak memory the transfer adds (goal
// < 16 MiB) and, last, the summary line with the throughput ratio pipeline/curl (goal >= 0.95).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_pipeline.h"
#include "bench/bench_support.h"
#include "core/update/curl_handle.h"
#include "core/update/package_download.h"
#include "core/update/posix_update_host.h"

#ifndef LAUNCHER_BENCH_CACHE_DIR
#define LAUNCHER_BENCH_CACHE_DIR "bench-cache"
#endif
#ifndef LAUNCHER_SOURCE_DIR
#define LAUNCHER_SOURCE_DIR "."
#endif

namespace {

namespace fs = std::filesystem;


int WaitForPort(const fs::path& portFile)
{
    for (int i = 0; i < 200; ++i) {
        std::ifstream in(portFile);
        int port = 0;
        if (in >> port && port > 0) return port;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
}

void PrintUsage()
{
    std::cout << "download_bench [--mib N] [--pairs N] [--out DIR] [--cache DIR]\n"
                 "  --mib N     size of the package in MiB (1024)\n"
                 "  --pairs N   counted pipeline/curl pairs after the warm-up pair (15)\n"
                 "  --out DIR   where the transfers write (a folder of their own in /dev/shm)\n"
                 "  --cache DIR where the served file is kept between runs (the build tree's bench-cache)\n";
}

}  // namespace

int main(int argc, char** argv)
{
    std::uint64_t mib = 1024;
    int pairs = 15;
    fs::path cache = LAUNCHER_BENCH_CACHE_DIR;
    std::optional<fs::path> out;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--help") {
            PrintUsage();
            return 0;
        }
        if (i + 1 >= argc) {
            std::cerr << flag << " needs a value\n";
            return 2;
        }
        const char* value = argv[++i];
        if (flag == "--mib") {
            mib = std::strtoull(value, nullptr, 10);
        } else if (flag == "--pairs") {
            const std::optional<int> n = bench::ParsePairs(value);
            if (!n) {
                std::cerr << "--pairs wants a count from 1 on\n";
                return 2;
            }
            pairs = *n;
        } else if (flag == "--out") {
            out = fs::path(value);
        } else if (flag == "--cache") {
            cache = value;
        } else {
            std::cerr << "unknown option " << flag << "\n";
            PrintUsage();
            return 2;
        }
    }
    if (mib == 0) {
        std::cerr << "--mib wants a size from 1 on\n";
        return 2;
    }
    const std::uint64_t bytes = mib << 20;
    fs::create_directories(cache);
    const fs::path source = cache / "download-source.bin";
    if (!bench::MakeNoiseFile(source, bytes)) {
        std::cerr << "cannot write " << source << "\n";
        return 1;
    }
    // One transfer's file at a time: each is checked and removed before the next run.
    bench::OutputFolder target;
    if (!target.Choose(out, cache, "launcher-download-bench", bytes)) return 1;
    std::cout << "download bench: " << mib << " MiB from the channel server on loopback into "
              << target.Describe() << ", " << pairs << " pairs after a warm-up pair\n";
    const bench::Placement placement = bench::PlaceRuns();

    const fs::path portFile = cache / "download-bench.port";
    fs::remove(portFile);
    bench::BackgroundProgram server({"/usr/bin/python3", std::string(LAUNCHER_SOURCE_DIR) + "/tools/channel_server.py",
                                     "--port", "0", "--port-file", portFile.string(), "--package",
                                     "/bench/package.zip=" + source.string()},
                                    placement.helpers);
    const int port = WaitForPort(portFile);
    if (!server.Running() || port == 0) {
        std::cerr << "the channel server did not start\n";
        return 1;
    }
    std::cout << "placement: " << placement.Describe();
    if (placement.helpers >= 0)
        std::cout << ", the channel server on processor " << placement.helpers << " at nice " << server.Nice();
    std::cout << "\n";
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/bench/package.zip";
    const fs::path viaCurl = target.Path() / "download-curl.bin";
    const fs::path viaPipeline = target.Path() / "download-pipeline.bin";

    // Every run's file must be the served one byte for byte; a fast wrong transfer counts for
    // nothing. The check runs after the clock stops.
    const auto checked = [&](const fs::path& file, const char* who,
                             const bench::Timing& timing) -> std::optional<bench::Timing> {
        const bool same = bench::SameFileBytes(file, source);
        fs::remove(file);
        if (!same) {
            std::cerr << who << " wrote a file that differs from the served one\n";
            return std::nullopt;
        }
        return timing;
    };
    long peakKiB = -1;
    const bench::TimedRun pipelineRun = [&]() -> std::optional<bench::Timing> {
        bench::FlushDisks();
        const bench::ChildResult r = bench::RunInChild([&] { return bench::PipelineTransfer(url, viaPipeline); });
        if (!r.ok) {
            fs::remove(viaPipeline);
            std::cerr << "the pipeline's transfer failed\n";
            return std::nullopt;
        }
        peakKiB = std::max(peakKiB, r.peakKiB);
        return checked(viaPipeline, "the pipeline", r.timing);
    };
    const bench::TimedRun curlRun = [&]() -> std::optional<bench::Timing> {
        bench::FlushDisks();
        const bench::ProgramResult r = bench::TimeProgram({"curl", "-s", "-f", "-o", viaCurl.string(), url});
        if (r.status != 0) {
            fs::remove(viaCurl);
            std::cerr << "curl failed (exit " << r.status << ")\n";
            return std::nullopt;
        }
        return checked(viaCurl, "curl", r.timing);
    };

    const std::optional<bench::Comparison> c = bench::ComparePairs(pairs, "pipeline", pipelineRun, "curl", curlRun);
    if (!c) return 1;
    bench::PrintComparison(*c, "pipeline", "curl", static_cast<double>(mib));
    bench::PrintMemoryGoal("pipeline", peakKiB, 16);
    std::cout << bench::SummaryLine("download", *c, 0.95) << "\n";
    return 0;
}
