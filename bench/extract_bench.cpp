// How fast and how lean the package walk is next to Info-ZIP's unzip and libarchive's bsdtar,
// on an archive shaped like a game client: thousands of small files and a few big ones, some
// compressible, some not. The archive is built once (with the zip tool) into a cache folder of
// the build tree and reused while its shape stays the same. The walk as the launcher runs it
// (one worker per hardware thread), the walk on one worker (the single-thread figure), unzip
// and bsdtar take turns in every round with a bare loop on one thread that only reads, inflates
// (with the walk's libraries) and writes each entry, unpinned so that the walk's workers may use
// every processor, and write into /dev/shm when two trees fit there (else into the cache
// folder), or into --out DIR. Every tree is compared with the walk's.
//
//   extract_bench [--files N] [--big N] [--big-mib N] [--pairs N] [--out DIR] [--cache DIR]
//
// Prints each round, the median time of each extractor, the peak memory the walk adds (goal
// < 16 MiB) and, last, three summary lines: the ratio unzip time / walk time (goal >= 1.0),
// bsdtar time / walk time (goal >= 2.4) and bare loop time / walk time (goal >= 1.7 on two
// processors).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench/bench_pipeline.h"
#include "bench/bench_support.h"
#include "core/update/archive_entry.h"
#include "core/update/archive_reader.h"
#include "core/update/entry_copy.h"
#include "core/update/package_extraction.h"
#include "core/update/posix_update_host.h"
#include "core/update/unzip_workers.h"

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
// workers: as the launcher chooses them (0), or a number.
bench::ChildResult RunWalkInChild(const fs::path& archive, const fs::path& out, unsigned workers)
{
    return bench::RunInChild([&] {
        bench::QuietHost host;
        core::PipelineState state;
        core::UpdateContext ctx{host, state, nullptr,
                                core::PipelinePaths{L"", core::Utf8ToWide(out.string()), L"qorn", L"palmet", L"qorn"}};
        ctx.unzipWorkers = workers;
        return core::OnUnzipFile(ctx, core::Utf8ToWide(archive.string()));
    });
}

// Writes size bytes to a descriptor; false when it cannot.
bool WriteAll(int fd, const unsigned char* bytes, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// One entry's packed bytes at `at`, inflated (or copied) into fd: libdeflate in one call when
// both sizes fit the walk's block, zlib's inflate a block at a time otherwise, as the walk does,
// without its checks.
bool BareEntry(core::ArchiveFile& file, std::uint64_t at, const unz_file_info64& info, int method,
               core::CopyBuffers& b, int fd)
{
    constexpr std::size_t kBlock = core::CopyBuffers::kBlockBytes;
    std::uint64_t packedLeft = info.compressed_size;
    const auto readPacked = [&](unsigned char* into, std::size_t size) {
        const bool ok = file.ReadAt(at, into, size);
        at += size;
        packedLeft -= size;
        return ok;
    };
    if (method == 0) {
        for (std::uint64_t left = info.uncompressed_size; left > 0;) {
            const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(left, kBlock));
            if (!readPacked(b.unpacked.get(), size) || !WriteAll(fd, b.unpacked.get(), size)) return false;
            left -= size;
        }
        return true;
    }
    if (info.compressed_size <= kBlock && info.uncompressed_size <= kBlock) {
        const auto packed = static_cast<std::size_t>(info.compressed_size);
        std::size_t made = 0;
        return readPacked(b.packed.get(), packed) &&
               libdeflate_deflate_decompress_ex(b.whole, b.packed.get(), packed, b.unpacked.get(),
                                                static_cast<std::size_t>(info.uncompressed_size), nullptr,
                                                &made) == LIBDEFLATE_SUCCESS &&
               WriteAll(fd, b.unpacked.get(), made);
    }
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
    int result = Z_OK;
    while (result == Z_OK) {
        if (z.avail_in == 0 && packedLeft > 0) {
            const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(packedLeft, kBlock));
            if (!readPacked(b.packed.get(), size)) break;
            z.next_in = b.packed.get();
            z.avail_in = static_cast<uInt>(size);
        }
        z.next_out = b.unpacked.get();
        z.avail_out = static_cast<uInt>(kBlock);
        result = inflate(&z, Z_NO_FLUSH);
        if (!WriteAll(fd, b.unpacked.get(), kBlock - z.avail_out)) break;
    }
    inflateEnd(&z);
    return result == Z_STREAM_END;
}

// The limit of one thread: each entry in the package's order read through the walk's file
// layer, inflated with the walk's libraries and written, with no plan, name or CRC check, no
// progress, and folders made as they come.
bool BareInflate(const fs::path& archivePath, const fs::path& out)
{
    bench::QuietHost host;
    core::PipelineState state;
    core::UpdateContext ctx{host, state, nullptr, core::PipelinePaths{}};
    const core::Archive archive = core::OpenArchive(ctx, core::Utf8ToWide(archivePath.string()));
    if (!archive) return false;
    auto buffers = std::make_unique<core::CopyBuffers>();
    std::string lastFolder;
    char name[core::kEntryNameBufferBytes];
    for (int more = unzGoToFirstFile(archive.get()); more == UNZ_OK; more = unzGoToNextFile(archive.get())) {
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(archive.get(), &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK)
            return false;
        const std::string entry(name, std::min<std::size_t>(info.size_filename, sizeof name - 1));
        if (!entry.empty() && entry.back() == '/') continue;
        const fs::path target = out / entry;
        if (target.parent_path().string() != lastFolder) {
            lastFolder = target.parent_path().string();
            fs::create_directories(lastFolder);
        }
        int method = 0;
        if (unzOpenCurrentFile2(archive.get(), &method, nullptr, 1) != UNZ_OK) return false;
        const std::uint64_t at = unzGetCurrentFileZStreamPos64(archive.get());
        const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const bool ok = fd >= 0 && BareEntry(archive.file(), at, info, method, *buffers, fd);
        if (fd >= 0) ::close(fd);
        unzCloseCurrentFile(archive.get());
        if (!ok) return false;
    }
    return true;
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

// Compares a side's tree with the walk's and removes it; false (saying so) when they differ.
bool SameOutput(const std::string& label, const fs::path& tree, const fs::path& walkTree, std::uint64_t& files,
                std::uint64_t& bytes)
{
    const bool same = SameTrees(tree, walkTree, files, bytes);
    fs::remove_all(tree);
    if (!same) std::cerr << "the files of " << label << " differ from the walk's\n";
    return same;
}

void PrintUsage()
{
    std::cout << "extract_bench [--files N] [--big N] [--big-mib N] [--pairs N] [--out DIR] [--cache DIR]\n"
                 "  --files N    small files in the archive (4000)\n"
                 "  --big N      big files in the archive (3)\n"
                 "  --big-mib N  size of each big file in MiB (64)\n"
                 "  --pairs N    counted rounds of every extractor after the warm-up round (9)\n"
                 "  --out DIR    where the extractors write (/dev/shm when two trees fit)\n"
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
    // Two trees exist together while a round's outputs are compared with the walk's.
    bench::OutputFolder target;
    if (!target.Choose(out, cache, "launcher-extract-bench", 2 * shape.TreeBytes())) return 1;
    std::cout << "archive: " << shape.files << " small files (1-64 KiB) and " << shape.bigFiles << " x "
              << shape.bigMiB << " MiB, " << (fs::file_size(archive) >> 20) << " MiB packed\n";
    const unsigned workers = core::UnzipWorkerCount(std::thread::hardware_concurrency());
    std::cout << "extract bench: the pipeline's walk (OnUnzipFile, " << workers << " workers), the walk on one worker, "
              << "unzip -q -o, bsdtar -x and the bare inflate loop (one thread), into " << target.Describe() << ", " << pairs
              << " rounds after a warm-up round\n";
    std::cout << "placement: " << bench::PlaceRuns(bench::Pinning::None).Describe() << "\n";

    // Read the archive once so that no extractor pays for a cold cache.
    {
        std::ifstream warm(archive, std::ios::binary);
        std::vector<char> buf(1 << 20);
        while (warm.read(buf.data(), static_cast<std::streamsize>(buf.size()))) {
        }
    }

    // The walk runs first in each round and keeps its tree; each other side's tree is compared
    // with it once the clock has stopped, then removed.
    const fs::path outWalk = target.Path() / "out-walk";
    const fs::path outOther = target.Path() / "out-other";
    std::uint64_t files = 0, bytes = 0;
    const auto walkSide = [&](const std::string& label, unsigned count, long& peakKiB) {
        return bench::Side{label, [&, label, count]() -> std::optional<bench::Timing> {
                               const fs::path& into = count == 0 ? outWalk : outOther;
                               Fresh(into);
                               const bench::ChildResult walk = RunWalkInChild(archive, into, count);
                               if (!walk.ok) {
                                   std::cerr << label << " failed\n";
                                   return std::nullopt;
                               }
                               peakKiB = std::max(peakKiB, walk.peakKiB);
                               if (count != 0 && !SameOutput(label, outOther, outWalk, files, bytes)) return std::nullopt;
                               return walk.timing;
                           }};
    };
    const auto bareSide = [&](const std::string& label) {
        return bench::Side{label, [&, label]() -> std::optional<bench::Timing> {
                               Fresh(outOther);
                               const bench::ChildResult bare =
                                   bench::RunInChild([&] { return BareInflate(archive, outOther); });
                               if (!bare.ok) {
                                   std::cerr << label << " failed\n";
                                   return std::nullopt;
                               }
                               if (!SameOutput(label, outOther, outWalk, files, bytes)) return std::nullopt;
                               return bare.timing;
                           }};
    };
    const auto toolSide = [&](const std::string& label, std::vector<std::string> argv) {
        return bench::Side{label, [&, label, argv]() -> std::optional<bench::Timing> {
                               Fresh(outOther);
                               const bench::ProgramResult r = bench::TimeProgram(argv);
                               if (r.status != 0) {
                                   std::cerr << label << " failed (is it installed?)\n";
                                   return std::nullopt;
                               }
                               if (!SameOutput(label, outOther, outWalk, files, bytes)) return std::nullopt;
                               return r.timing;
                           }};
    };
    long walkPeakKiB = -1, singlePeakKiB = -1;
    const std::vector<bench::Side> sides{
        walkSide("walk", 0, walkPeakKiB),
        walkSide("walk 1 worker", 1, singlePeakKiB),
        toolSide("unzip", {"unzip", "-q", "-o", archive.string(), "-d", outOther.string()}),
        toolSide("bsdtar", {"bsdtar", "-x", "-f", archive.string(), "-C", outOther.string()}),
        bareSide("bare inflate"),
    };
    const std::optional<bench::Rounds> rounds = bench::RunRounds(pairs, sides);
    fs::remove_all(outWalk);
    if (!rounds) return 1;

    const double mib = static_cast<double>(bytes) / (1 << 20);
    std::printf("extracted: %llu files, %.1f MiB (identical in every tree in every round)\n",
                static_cast<unsigned long long>(files), mib);
    for (std::size_t i = 0; i < sides.size(); ++i)
        bench::PrintMedian(sides[i].label, rounds->Median(i), mib);
    const bench::Comparison vsUnzip = bench::Compare(*rounds, 0, 2);
    const bench::Comparison vsBsdtar = bench::Compare(*rounds, 0, 3);
    bench::PrintRatios(vsUnzip, "walk", "unzip");
    bench::PrintRatios(vsBsdtar, "walk", "bsdtar");
    bench::PrintRatios(bench::Compare(*rounds, 1, 3), "walk 1 worker", "bsdtar");
    bench::PrintRatios(bench::Compare(*rounds, 0, 1), "walk", "walk 1 worker");
    const bench::Comparison vsBare = bench::Compare(*rounds, 0, 4);
    bench::PrintRatios(vsBare, "walk", "bare inflate");
    bench::PrintRatios(bench::Compare(*rounds, 1, 4), "walk 1 worker", "bare inflate");
    bench::PrintOtherWork(rounds->OtherProcessors());
    bench::PrintMemoryGoal("walk", walkPeakKiB, 16);
    bench::PrintMemoryGoal("walk 1 worker", singlePeakKiB, 16);
    std::cout << bench::SummaryLine("extract", vsUnzip, 1.0) << "\n";
    std::cout << bench::SummaryLine("extract vs bsdtar", vsBsdtar, 2.4) << "\n";
    std::cout << bench::SummaryLine("extract vs bare inflate", vsBare, 1.7) << "\n";
    return 0;
}
