// How fast and how lean the package walk is next to Info-ZIP's unzip, on an archive shaped
// like a game client: thousands of small files and a few big ones, some compressible, some
// not. The archive is built once (with the zip tool) into a cache folder of the build tree and
// reused while its shape stays the same.
//
//   extract_bench [--files N] [--big N] [--big-mib N] [--repeat N] [--cache DIR]
//
// Prints the wall time of each extractor, the ratio unzip/pipeline (goal >= 1.0) and how far
// the walk raises its process's resident peak (goal < 16 MiB).
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "core/package_extraction.h"
#include "core/posix_update_host.h"

#ifndef LAUNCHER_BENCH_CACHE_DIR
#define LAUNCHER_BENCH_CACHE_DIR "bench-cache"
#endif

namespace {

namespace fs = std::filesystem;

struct Shape {
    int files = 4000;
    int bigFiles = 3;
    int bigMiB = 64;
    std::string Stamp() const
    {
        return "extract-bench v1 files=" + std::to_string(files) + " big=" + std::to_string(bigFiles) + "x" +
               std::to_string(bigMiB) + "MiB\n";
    }
};

// Deterministic content: words (deflate shrinks them several times) or noise (it cannot).
void FillText(std::string& out, std::size_t size, std::uint64_t seed)
{
    static const char* const kWords[] = {"texture ", "model ", "sound ", "script ", "level\n", "shader ",
                                         "0.25 ", "1024 ", "true ", "quest "};
    out.clear();
    std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 7;
    while (out.size() < size) {
        x = x * 6364136223846793005ull + 1442695040888963407ull;
        out += kWords[(x >> 33) % 10];
    }
    out.resize(size);
}

void FillNoise(std::string& out, std::size_t size, std::uint64_t seed)
{
    out.resize(size);
    std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        std::memcpy(&out[i], &x, 8);
    }
    for (std::size_t i = size & ~std::size_t{7}; i < size; ++i) out[i] = static_cast<char>(i * 131);
}

bool WriteBytes(const fs::path& p, const std::string& bytes)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool BuildArchive(const Shape& shape, const fs::path& cache, const fs::path& archive)
{
    const fs::path stampFile = cache / "archive.stamp";
    {
        std::ifstream in(stampFile);
        std::stringstream s;
        s << in.rdbuf();
        if (in && s.str() == shape.Stamp() && fs::exists(archive)) {
            std::cout << "reusing " << archive.string() << "\n";
            return true;
        }
    }
    std::cout << "building " << archive.string() << " (once; kept for later runs) ...\n" << std::flush;
    const fs::path src = cache / "src";
    fs::remove_all(src);
    fs::remove(archive);
    fs::remove(stampFile);

    std::string bytes;
    const int perFolder = 100;
    for (int i = 0; i < shape.files; ++i) {
        const fs::path dir = src / "assets" / ("pack" + std::to_string(i / perFolder));
        if (i % perFolder == 0) fs::create_directories(dir);
        const std::size_t size = 1024 + (static_cast<std::size_t>(i) * 2654435761u) % (63 * 1024);
        if (i % 2 == 0)
            FillText(bytes, size, static_cast<std::uint64_t>(i));
        else
            FillNoise(bytes, size, static_cast<std::uint64_t>(i));
        if (!WriteBytes(dir / ("item" + std::to_string(i) + ".dat"), bytes)) return false;
    }
    fs::create_directories(src / "bin");
    const std::size_t big = static_cast<std::size_t>(shape.bigMiB) << 20;
    for (int i = 0; i < shape.bigFiles; ++i) {
        // Text, noise, and both in halves, in turn.
        if (i % 3 == 0) {
            FillText(bytes, big, 1000u + static_cast<unsigned>(i));
        } else if (i % 3 == 1) {
            FillNoise(bytes, big, 1000u + static_cast<unsigned>(i));
        } else {
            std::string half;
            FillText(bytes, big / 2, 1000u + static_cast<unsigned>(i));
            FillNoise(half, big - big / 2, 2000u + static_cast<unsigned>(i));
            bytes += half;
        }
        if (!WriteBytes(src / "bin" / ("big" + std::to_string(i) + ".pak"), bytes)) return false;
    }
    bytes.clear();
    bytes.shrink_to_fit();

    // zip stores an entry instead of deflating it when deflate would not make it smaller.
    if (bench::RunProgram({"zip", "-q", "-r", "-X", fs::absolute(archive).string(), "."}, src.string()) != 0) {
        std::cerr << "zip failed (is Info-ZIP zip installed?)\n";
        return false;
    }
    fs::remove_all(src);
    std::ofstream(stampFile) << shape.Stamp();
    return true;
}

// The pipeline's platform without the in-memory record of log lines and reports, which the
// tests need and the launcher does not have.
class BenchHost : public core::PosixUpdateHost {
public:
    void Log(const wchar_t*, const char*, int, const std::wstring&) override {}
    void ReportEventCode(int) override {}
    void ReportMessage(const std::wstring&) override {}
};

// Runs the walk in a forked child so that its time and memory are measured on their own.
bench::ChildResult RunWalkInChild(const fs::path& archive, const fs::path& out)
{
    return bench::RunInChild([&] {
        BenchHost host;
        core::PipelineState state;
        core::UpdateContext ctx{host, state, nullptr,
                                core::PipelinePaths{L"", core::Utf8ToWide(out.string()), L"qorn", L"palmet", L"qorn"}};
        return core::OnUnzipFile(ctx, core::Utf8ToWide(archive.string()));
    });
}

void Fresh(const fs::path& dir)
{
    fs::remove_all(dir);
    fs::create_directories(dir);
    // Write back what earlier runs left dirty, so that each run pays only for its own files.
    sync();
}

// Same files with the same bytes in both trees.
bool SameTrees(const fs::path& a, const fs::path& b, std::uint64_t& files, std::uint64_t& bytes)
{
    files = bytes = 0;
    std::vector<char> bufA(1 << 20), bufB(1 << 20);
    for (const auto& e : fs::recursive_directory_iterator(a)) {
        const fs::path other = b / fs::relative(e.path(), a);
        if (e.is_directory()) {
            if (!fs::is_directory(other)) return false;
            continue;
        }
        if (!fs::is_regular_file(other) || fs::file_size(other) != e.file_size()) return false;
        std::ifstream fa(e.path(), std::ios::binary), fb(other, std::ios::binary);
        while (fa && fb) {
            fa.read(bufA.data(), static_cast<std::streamsize>(bufA.size()));
            fb.read(bufB.data(), static_cast<std::streamsize>(bufB.size()));
            if (fa.gcount() != fb.gcount() ||
                std::memcmp(bufA.data(), bufB.data(), static_cast<std::size_t>(fa.gcount())) != 0)
                return false;
        }
        ++files;
        bytes += e.file_size();
    }
    std::uint64_t countB = 0;
    for (const auto& e : fs::recursive_directory_iterator(b))
        if (!e.is_directory()) ++countB;
    return countB == files;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    Shape shape;
    int repeat = 1;
    fs::path cache = LAUNCHER_BENCH_CACHE_DIR;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--files")
            shape.files = std::atoi(argv[i + 1]);
        else if (opt == "--big")
            shape.bigFiles = std::atoi(argv[i + 1]);
        else if (opt == "--big-mib")
            shape.bigMiB = std::atoi(argv[i + 1]);
        else if (opt == "--repeat")
            repeat = std::max(1, std::atoi(argv[i + 1]));
        else if (opt == "--cache")
            cache = argv[i + 1];
        else {
            std::cerr << "unknown option " << opt << "\n";
            return 2;
        }
    }

    fs::create_directories(cache);
    const fs::path archive = cache / "package.zip";
    if (!BuildArchive(shape, cache, archive)) return 1;
    std::cout << "archive: " << shape.files << " small files (1-64 KiB) and " << shape.bigFiles << " x "
              << shape.bigMiB << " MiB, " << (fs::file_size(archive) >> 20) << " MiB packed\n";

    // Read the archive once so that neither extractor pays for a cold cache.
    {
        std::ifstream warm(archive, std::ios::binary);
        std::vector<char> buf(1 << 20);
        while (warm.read(buf.data(), static_cast<std::streamsize>(buf.size()))) {
        }
    }

    const fs::path outPipeline = cache / "out-pipeline";
    const fs::path outUnzip = cache / "out-unzip";
    std::vector<double> pipelineTimes, unzipTimes;
    long walkPeakKiB = -1;
    for (int round = 0; round < repeat; ++round) {
        Fresh(outPipeline);
        const bench::ChildResult walk = RunWalkInChild(archive, outPipeline);
        if (!walk.ok) {
            std::cerr << "the pipeline's walk failed\n";
            return 1;
        }
        pipelineTimes.push_back(walk.seconds);
        walkPeakKiB = std::max(walkPeakKiB, walk.peakKiB);

        Fresh(outUnzip);
        const auto start = std::chrono::steady_clock::now();
        if (bench::RunProgram({"unzip", "-q", "-o", archive.string(), "-d", outUnzip.string()}) != 0) {
            std::cerr << "unzip failed (is Info-ZIP unzip installed?)\n";
            return 1;
        }
        unzipTimes.push_back(bench::SecondsSince(start));
    }

    std::uint64_t files = 0, bytes = 0;
    if (!SameTrees(outUnzip, outPipeline, files, bytes)) {
        std::cerr << "the pipeline's files differ from unzip's\n";
        return 1;
    }
    fs::remove_all(outPipeline);
    fs::remove_all(outUnzip);

    const double pipeline = Median(pipelineTimes);
    const double unzip = Median(unzipTimes);
    const double ratio = unzip / pipeline;
    const double extraMiB = static_cast<double>(walkPeakKiB) / 1024.0;
    std::printf("extracted: %llu files, %.1f MiB (identical in both trees)\n", static_cast<unsigned long long>(files),
                static_cast<double>(bytes) / (1 << 20));
    std::printf("pipeline walk (OnUnzipFile):   %.3f s%s\n", pipeline, repeat > 1 ? " (median)" : "");
    std::printf("Info-ZIP unzip -q -o:          %.3f s%s\n", unzip, repeat > 1 ? " (median)" : "");
    std::printf("ratio unzip/pipeline:          %.2f  (goal >= 1.0: %s)\n", ratio, ratio >= 1.0 ? "met" : "NOT met");
    if (walkPeakKiB < 0)
        std::printf("walk peak memory: not measurable here (/proc/self/clear_refs unavailable)\n");
    else
        std::printf("walk peak memory over its start: %.2f MiB  (goal < 16 MiB: %s)\n", extraMiB,
                    extraMiB < 16.0 ? "met" : "NOT met");
    return 0;
}
