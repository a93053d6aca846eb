// How fast and how lean the package transfer is next to the curl command-line tool: both fetch
// the same 1 GiB file from the channel server on loopback, once each, into files beside each
// other. The file is made once into a cache folder of the build tree.
//
//   download_bench [--mib N] [--cache DIR]
//
// Prints each wall time, the throughput ratio pipeline/curl (goal >= 0.95) and how far the
// transfer raises its process's resident peak (goal < 16 MiB).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "core/curl_handle.h"
#include "core/package_download.h"
#include "core/posix_update_host.h"

#ifndef LAUNCHER_BENCH_CACHE_DIR
#define LAUNCHER_BENCH_CACHE_DIR "bench-cache"
#endif
#ifndef LAUNCHER_SOURCE_DIR
#define LAUNCHER_SOURCE_DIR "."
#endif

namespace {

namespace fs = std::filesystem;

// The progress goes nowhere: only the transfer is measured.
class NoWindow : public core::ILauncherWindow {
public:
    void UpdateProgress(const std::wstring&, const std::wstring&, int, int) override {}
    void ShowProgressControls(bool) override {}
    void InitWebBrower() override {}
    void SetReady() override {}
};

bool MakeFile(const fs::path& path, std::uint64_t bytes)
{
    if (fs::exists(path) && fs::file_size(path) == bytes) return true;
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

bool PipelineTransfer(const std::string& url, const fs::path& out)
{
    core::PosixUpdateHost host;
    core::PipelineState state;
    NoWindow window;
    core::UpdateContext ctx{host, state, &window, core::PipelinePaths{}};
    std::FILE* file = std::fopen(out.c_str(), "wb");
    if (!file) return false;
    std::setvbuf(file, nullptr, _IOFBF, 256 * 1024);  // as the launcher opens its package file
    core::CurlHandle curl(curl_easy_init());
    const core::TransferOutcome outcome = core::TransferPackage(ctx, curl.get(), url, file);
    const bool closed = std::fclose(file) == 0;
    return outcome.result == CURLE_OK && outcome.httpStatus == 200 && closed;
}

}  // namespace

int main(int argc, char** argv)
{
    std::uint64_t mib = 1024;
    fs::path cache = LAUNCHER_BENCH_CACHE_DIR;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--mib") mib = std::strtoull(argv[i + 1], nullptr, 10);
        else if (flag == "--cache") cache = argv[i + 1];
    }
    fs::create_directories(cache);
    const fs::path source = cache / "download-source.bin";
    std::cout << "download bench: " << mib << " MiB from the channel server on loopback\n";
    if (!MakeFile(source, mib << 20)) {
        std::cerr << "cannot write " << source << "\n";
        return 1;
    }
    const fs::path portFile = cache / "download-bench.port";
    fs::remove(portFile);
    bench::BackgroundProgram server({"/usr/bin/python3", std::string(LAUNCHER_SOURCE_DIR) + "/tools/channel_server.py",
                                     "--port", "0", "--port-file", portFile.string(), "--package",
                                     "/bench/package.zip=" + source.string()});
    const int port = WaitForPort(portFile);
    if (!server.Running() || port == 0) {
        std::cerr << "the channel server did not start\n";
        return 1;
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/bench/package.zip";
    const fs::path viaCurl = cache / "download-curl.bin";
    const fs::path viaPipeline = cache / "download-pipeline.bin";

    const auto curlStart = std::chrono::steady_clock::now();
    const int curlStatus = bench::RunProgram({"curl", "-s", "-f", "-o", viaCurl.string(), url});
    const double curlSeconds = bench::SecondsSince(curlStart);
    const bench::ChildResult pipeline = bench::RunInChild([&] { return PipelineTransfer(url, viaPipeline); });
    const bool same = fs::file_size(viaPipeline) == fs::file_size(source);
    fs::remove(viaCurl);
    fs::remove(viaPipeline);

    if (curlStatus != 0 || !pipeline.ok || !same) {
        std::cerr << "a transfer failed (curl exit " << curlStatus << ", pipeline " << (pipeline.ok ? "ok" : "failed")
                  << ", size " << (same ? "right" : "wrong") << ")\n";
        return 1;
    }
    const double mibs = static_cast<double>(mib);
    std::printf("curl:     %.2f s  (%.0f MiB/s)\n", curlSeconds, mibs / curlSeconds);
    std::printf("pipeline: %.2f s  (%.0f MiB/s)\n", pipeline.seconds, mibs / pipeline.seconds);
    std::printf("throughput pipeline/curl: %.2f (goal >= 0.95)\n", curlSeconds / pipeline.seconds);
    std::printf("pipeline peak memory beyond its start: %.1f MiB (goal < 16)\n", pipeline.peakKiB / 1024.0);
    return 0;
}
