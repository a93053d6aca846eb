// How fast and how lean the package walk is next to Info-ZIP's unzip, on an archive shaped
// like a game client: thousands of small files and a few big ones, some compressible, some
// not. The archive is built once (with the zip tool) into a cache folder of the build tree and
// reused while its shape stays the same. Both extractors run in alternating pairs and write
// into /dev/shm when both trees fit there (else into the cache folder), or into --out DIR.
//
//   extract_bench [--files N] [--big N] [--big-mib N] [--pairs N] [--out DIR] [--cache DIR]
//
// Prints each pair, the median time of each extractor, the peak memory the walk adds (goal
// < 16 MiB) and, last, the summary line with the ratio unzip time / walk time (goal >= 1.0).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_pipeline.h"
#include "bench/bench_support.h"
#include "core/update/package_extraction.h"
#include "core/update/posix_update_host.h"

#ifndef LAUNCHER_BENCH_CACHE_DIR
#define LAUNCHER_BENCH_CACHE_DIR "bench-cache"
#endif

namespace {

namespace fs = std::filesystem;

struct Shape {
    int files = 4000;
    int bigFiles = 3;
    int bigMiB = 64;
    // Small file i holds SmallFileBytes(i); the big ones bigMiB each.
    static std::size_t SmallFileBytes(int i) { return 1024 + (static_cast<std::size_t>(i) * 2654435761u) % (63 * 1024); }
    // What one extracted tree takes, with every file rounded up to whole pages.
    std::uint64_t TreeBytes() const
    {
        std::uint64_t total = static_cast<std::uint64_t>(bigFiles) * (static_cast<std::uint64_t>(bigMiB) << 20);
        for (int i = 0; i < files; ++i) total += (SmallFileBytes(i) + 4095) / 4096 * 4096;
        return total;
    }
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
        const std::size_t size = Shape::SmallFileBytes(i);
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


// Runs the walk in a forked child so that its time and memory are measured on their own.
bench::ChildResult RunWalkInChild(const fs::path& archive, const fs::path& out)
{
    return bench::RunInChild([&] {
        bench::QuietHost host;
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
    bench::FlushDisks();
}

// Same files with the same bytes in both trees.
bool SameTrees(const fs::path& a, const fs::path& b, std::uint64_t& files, std::uint64_t& bytes)
{
    files = bytes = 0;
    for (const auto& e : fs::recursive_directory_iterator(a)) {
        const fs::path other = b / fs::relative(e.path(), a);
        if (e.is_directory()) {
            if (!fs::is_directory(other)) return false;
            continue;
        }
        if (!fs::is_regular_file(other) || !bench::SameFileBytes(e.path(), other)) return false;
        ++files;
        bytes += e.file_size();
    }
    std::uint64_t countB = 0;
    for (const auto& e : fs::recursive_directory_iterator(b))
        if (!e.is_directory()) ++countB;
    return countB == files;
}

void PrintUsage()
{
    std::cout << "extract_bench [--files N] [--big N] [--big-mib N] [--pairs N] [--out DIR] [--cache DIR]\n"
                 "  --files N    small files in the archive (4000)\n"
                 "  --big N      big files in the archive (3)\n"
                 "  --big-mib N  size of each big file in MiB (64)\n"
                 "  --pairs N    counted walk/unzip pairs after the warm-up pair (9)\n"
                 "  --out DIR    where both extractors write (/dev/shm when the two trees fit)\n"
                 "  --cache DIR  where the archive is kept between runs (the build tree's bench-cache)\n";
}

}  // namespace

int main(int argc, char** argv)
{
    Shape shape;
    int pairs = 9;
    fs::path cache = LAUNCHER_BENCH_CACHE_DIR;
    std::optional<fs::path> out;
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        if (opt == "--help") {
            PrintUsage();
            return 0;
        }
        if (i + 1 >= argc) {
            std::cerr << opt << " needs a value\n";
            return 2;
        }
        const char* value = argv[++i];
        if (opt == "--files") {
            shape.files = std::atoi(value);
        } else if (opt == "--big") {
            shape.bigFiles = std::atoi(value);
        } else if (opt == "--big-mib") {
            shape.bigMiB = std::atoi(value);
        } else if (opt == "--pairs") {
            const std::optional<int> n = bench::ParsePairs(value);
            if (!n) {
                std::cerr << "--pairs wants a count from 1 on\n";
                return 2;
            }
            pairs = *n;
        } else if (opt == "--out") {
            out = fs::path(value);
        } else if (opt == "--cache") {
            cache = value;
        } else {
            std::cerr << "unknown option " << opt << "\n";
            PrintUsage();
            return 2;
        }
    }
    if (shape.files < 0 || shape.bigFiles < 0 || shape.bigMiB < 0) {
        std::cerr << "sizes and counts cannot be negative\n";
        return 2;
    }

    fs::create_directories(cache);
    const fs::path archive = cache / "package.zip";
    if (!BuildArchive(shape, cache, archive)) return 1;
    // Both trees exist together while a pair's outputs are compared.
    bench::OutputFolder target;
    if (!target.Choose(out, cache, "launcher-extract-bench", 2 * shape.TreeBytes())) return 1;
    std::cout << "archive: " << shape.files << " small files (1-64 KiB) and " << shape.bigFiles << " x "
              << shape.bigMiB << " MiB, " << (fs::file_size(archive) >> 20) << " MiB packed\n";
    std::cout << "extract bench: the pipeline's walk (OnUnzipFile) against unzip -q -o, into " << target.Describe()
              << ", " << pairs << " pairs after a warm-up pair\n";
    std::cout << "placement: " << bench::PlaceRuns().Describe() << "\n";

    // Read the archive once so that neither extractor pays for a cold cache.
    {
        std::ifstream warm(archive, std::ios::binary);
        std::vector<char> buf(1 << 20);
        while (warm.read(buf.data(), static_cast<std::streamsize>(buf.size()))) {
        }
    }

    const fs::path outPipeline = target.Path() / "out-pipeline";
    const fs::path outUnzip = target.Path() / "out-unzip";
    long walkPeakKiB = -1;
    std::uint64_t files = 0, bytes = 0;
    const bench::TimedRun walkRun = [&]() -> std::optional<bench::Timing> {
        Fresh(outPipeline);
        const bench::ChildResult walk = RunWalkInChild(archive, outPipeline);
        if (!walk.ok) {
            std::cerr << "the pipeline's walk failed\n";
            return std::nullopt;
        }
        walkPeakKiB = std::max(walkPeakKiB, walk.peakKiB);
        return walk.timing;
    };
    // Runs second in each pair, so the walk's tree of the same pair is there to be compared
    // with unzip's once the clock has stopped; both are then removed.
    const bench::TimedRun unzipRun = [&]() -> std::optional<bench::Timing> {
        Fresh(outUnzip);
        const bench::ProgramResult r =
            bench::TimeProgram({"unzip", "-q", "-o", archive.string(), "-d", outUnzip.string()});
        const bool same = r.status == 0 && SameTrees(outUnzip, outPipeline, files, bytes);
        fs::remove_all(outPipeline);
        fs::remove_all(outUnzip);
        if (r.status != 0) {
            std::cerr << "unzip failed (is Info-ZIP unzip installed?)\n";
            return std::nullopt;
        }
        if (!same) {
            std::cerr << "the pipeline's files differ from unzip's\n";
            return std::nullopt;
        }
        return r.timing;
    };

    const std::optional<bench::Comparison> c = bench::ComparePairs(pairs, "walk", walkRun, "unzip", unzipRun);
    if (!c) return 1;
    std::printf("extracted: %llu files, %.1f MiB (identical in both trees in every pair)\n",
                static_cast<unsigned long long>(files), static_cast<double>(bytes) / (1 << 20));
    bench::PrintComparison(*c, "walk", "unzip", static_cast<double>(bytes) / (1 << 20));
    bench::PrintMemoryGoal("walk", walkPeakKiB, 16);
    std::cout << bench::SummaryLine("extract", *c, 1.0) << "\n";
    return 0;
}
