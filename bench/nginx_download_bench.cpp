// The package transfer from nginx, the server a studio's channel really runs on: the launcher's
// pipeline next to the curl tool fetching the same file (1 GiB by default) from the same nginx
// (scripts/channel serve) on loopback, and next to the limit: a bare loop that receives into a
// buffer of the pipeline's size and writes each piece to the file, with nothing else to do.
// Alternating pairs as in download_bench; the transfers write into /dev/shm unless --out names
// a folder.
//
//   nginx_download_bench [--mib N] [--pairs N] [--out DIR] [--cache DIR]
//
// Prints each pair and the medians of each comparison, then the two summary lines: the
// throughput ratio pipeline/curl (goal >= 0.95) and pipeline/bare loop (goal >= 0.90).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_pipeline.h"
#include "bench/bench_support.h"

#ifndef LAUNCHER_BENCH_CACHE_DIR
#define LAUNCHER_BENCH_CACHE_DIR "bench-cache"
#endif
#ifndef CHANNEL_TOOL
#define CHANNEL_TOOL "channel"
#endif

namespace {

namespace fs = std::filesystem;

// serve answers only a channel's paths: a package's names its version and 16 hex digits.
constexpr char kPath[] = "/packages/bench/bench_1.0.0.0_0000000000000000.zip";

int Connect(int port)
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s >= 0 && connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return s;
    if (s >= 0) close(s);
    return -1;
}

int FreePort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(s);
    return port;
}

bool WaitForServer(int port)
{
    for (int i = 0; i < 200; ++i) {
        const int s = Connect(port);
        if (s >= 0) {
            close(s);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// One GET over a plain socket: the headers are read and skipped, then every piece of the body
// goes to the file as it arrives, through a buffer of the pipeline's size.
bool BareTransfer(int port, const fs::path& out, std::uint64_t expected)
{
    const int s = Connect(port);
    if (s < 0) return false;
    const std::string request = std::string("GET ") + kPath + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    if (send(s, request.data(), request.size(), 0) != static_cast<ssize_t>(request.size())) return close(s), false;
    std::FILE* file = std::fopen(out.c_str(), "wb");
    if (!file) return close(s), false;
    std::vector<char> buffer(core::PackageWriteBuffer::kBytes);
    std::string head;
    std::uint64_t body = 0;
    bool inBody = false, ok = true;
    for (;;) {
        const ssize_t got = recv(s, buffer.data(), buffer.size(), 0);
        if (got <= 0) break;
        const char* data = buffer.data();
        std::size_t size = static_cast<std::size_t>(got);
        if (!inBody) {
            head.append(data, size);
            const std::size_t end = head.find("\r\n\r\n");
            if (end == std::string::npos) continue;
            inBody = true;
            ok = head.compare(0, 12, "HTTP/1.1 200") == 0;
            data = head.data() + end + 4;
            size = head.size() - end - 4;
        }
        if (size && write(fileno(file), data, size) != static_cast<ssize_t>(size)) ok = false;
        body += size;
    }
    close(s);
    return std::fclose(file) == 0 && ok && body == expected;
}

}  // namespace

int main(int argc, char** argv)
{
    bench::TransferOptions options;
    options.cache = LAUNCHER_BENCH_CACHE_DIR;
    if (const std::optional<int> exit =
            bench::ParseTransferOptions(argc, argv, options, "nginx_download_bench", "counted pairs of each comparison after a warm-up pair"))
        return *exit;
    const auto& [cache, mib, pairs, out] = options;
    const std::uint64_t bytes = mib << 20;
    fs::create_directories(cache);
    const fs::path source = cache / "download-source.bin";
    if (!bench::MakeNoiseFile(source, bytes)) return std::cerr << "cannot write " << source << "\n", 1;
    // The served folder: the file under the path the transfers ask for, as a hard link (serve
    // follows no link).
    const fs::path site = cache / "nginx-site";
    const fs::path served = site / fs::path(kPath).relative_path();
    fs::remove_all(site);
    fs::create_directories(served.parent_path());
    fs::create_hard_link(source, served);

    bench::OutputFolder target;
    if (!target.Choose(out, cache, "launcher-nginx-bench", bytes)) return 1;
    std::cout << "nginx download bench: " << mib << " MiB from nginx on loopback into " << target.Describe() << ", "
              << pairs << " pairs of each comparison after a warm-up pair; the bare loop's buffer "
              << core::PackageWriteBuffer::kBytes / 1024 << " KiB\n";
    const bench::Placement placement = bench::PlaceRuns();
    const int port = FreePort();
    bench::BackgroundProgram server({CHANNEL_TOOL, "serve", site.string(), "--port", std::to_string(port)},
                                    placement.helpers);
    if (!server.Running() || !WaitForServer(port)) return std::cerr << "nginx did not start\n", 1;
    std::cout << "placement: " << placement.Describe();
    if (placement.helpers >= 0) std::cout << ", nginx on processor " << placement.helpers;
    std::cout << "\n";
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + kPath;

    // Every run's file must be the served one byte for byte; the check runs after the clock.
    const auto side = [&](const char* who, const std::function<bool(const fs::path&)>& transfer) -> bench::TimedRun {
        return [&, who, transfer]() -> std::optional<bench::Timing> {
            const fs::path file = target.Path() / (std::string(who) + ".bin");
            bench::FlushDisks();
            const bench::ChildResult r = bench::RunInChild([&] { return transfer(file); });
            const bool same = r.ok && bench::SameFileBytes(file, source);
            fs::remove(file);
            if (!same) {
                std::cerr << who << "'s transfer failed or wrote other bytes than the served ones\n";
                return std::nullopt;
            }
            return r.timing;
        };
    };
    const bench::TimedRun pipeline = side("pipeline", [&](const fs::path& f) { return bench::PipelineTransfer(url, f); });
    const bench::TimedRun bare = side("bare loop", [&](const fs::path& f) { return BareTransfer(port, f, bytes); });
    const bench::TimedRun curl = [&]() -> std::optional<bench::Timing> {
        const fs::path file = target.Path() / "curl.bin";
        bench::FlushDisks();
        const bench::ProgramResult r = bench::TimeProgram({"curl", "-s", "-f", "-o", file.string(), url});
        const bool same = r.status == 0 && bench::SameFileBytes(file, source);
        fs::remove(file);
        if (!same) return std::cerr << "curl failed or wrote other bytes than the served ones\n", std::nullopt;
        return r.timing;
    };

    const std::optional<bench::Comparison> withCurl = bench::ComparePairs(pairs, "pipeline", pipeline, "curl", curl);
    if (!withCurl) return 1;
    bench::PrintComparison(*withCurl, "pipeline", "curl", static_cast<double>(mib));
    const std::optional<bench::Comparison> withBare =
        bench::ComparePairs(pairs, "pipeline", pipeline, "bare loop", bare);
    if (!withBare) return 1;
    bench::PrintComparison(*withBare, "pipeline", "bare loop", static_cast<double>(mib));
    std::cout << bench::SummaryLine("nginx download", *withCurl, 0.95) << "\n";
    std::cout << bench::SummaryLine("nginx download vs bare loop", *withBare, 0.90) << "\n";
    return 0;
}
