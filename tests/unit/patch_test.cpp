// Patch updates' portable pieces: the content-defined chunker, the version manifest's text and
// its reader, and the plan drawn from an installed manifest and a new one.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/patch/content_chunker.h"
#include "core/patch/patch_manifest.h"
#include "core/patch/patch_plan.h"
#include "core/update/sha256.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937_64 random(seed);
    Bytes bytes(size);
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(random());
    return bytes;
}

std::string Digest(const std::uint8_t* data, std::size_t size)
{
    core::Sha256 sha;
    sha.Update(data, size);
    return sha.HexDigest();
}

// The chunks of a whole file, cut as the publisher cuts them.
std::vector<core::ManifestChunk> Chunks(const Bytes& file)
{
    std::vector<core::ManifestChunk> chunks;
    std::size_t at = 0;
    while (at < file.size()) {
        const std::size_t length = core::NextChunkLength(file.data() + at, file.size() - at, true);
        EXPECT_GT(length, 0u);
        if (length == 0) break;
        chunks.push_back({Digest(file.data() + at, length), static_cast<std::uint32_t>(length)});
        at += length;
    }
    return chunks;
}

std::size_t NewChunks(const std::vector<core::ManifestChunk>& before, const std::vector<core::ManifestChunk>& after)
{
    std::set<std::string> known;
    for (const auto& c : before) known.insert(c.sha256);
    return std::count_if(after.begin(), after.end(), [&](const auto& c) { return !known.count(c.sha256); });
}

TEST(ContentChunker, CutsStayWithinTheLimitsAndNearTheAverage)
{
    const Bytes file = RandomBytes(8 << 20, 1);
    const auto chunks = Chunks(file);
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        total += chunks[i].size;
        EXPECT_LE(chunks[i].size, core::kChunkLimits.max);
        if (i + 1 < chunks.size()) {
            EXPECT_GE(chunks[i].size, core::kChunkLimits.min);
        }
    }
    EXPECT_EQ(total, file.size());
    const double average = double(file.size()) / chunks.size();
    EXPECT_GT(average, core::kChunkLimits.average / 2.0);
    EXPECT_LT(average, core::kChunkLimits.average * 2.0);
    // Bytes without content to cut at (a run of zeros) are cut at the maximum.
    const auto zeros = Chunks(Bytes(3 * core::kChunkLimits.max + 5, 0));
    ASSERT_EQ(zeros.size(), 4u);
    EXPECT_EQ(zeros[0].size, core::kChunkLimits.max);
    EXPECT_EQ(zeros[3].size, 5u);
}

TEST(ContentChunker, EditsChangeOnlyTheChunksAroundThem)
{
    const Bytes file = RandomBytes(8 << 20, 2);
    const auto before = Chunks(file);
    EXPECT_EQ(Chunks(file).size(), before.size());
    EXPECT_EQ(NewChunks(before, Chunks(file)), 0u) << "the same bytes cut differently";

    Bytes inserted = file;
    // Not a multiple of any chunk size: fixed-size cuts would all shift.
    const Bytes middle = RandomBytes((256 << 10) + 4093, 3);
    inserted.insert(inserted.begin() + file.size() / 2, middle.begin(), middle.end());
    const std::size_t insertedChunks = NewChunks(before, Chunks(inserted));
    // The inserted bytes themselves, plus about a chunk on either side of them.
    EXPECT_LE(insertedChunks, middle.size() / core::kChunkLimits.min + 3);
    std::uint64_t newBytes = 0;
    const auto after = Chunks(inserted);
    std::set<std::string> known;
    for (const auto& c : before) known.insert(c.sha256);
    for (const auto& c : after)
        if (!known.count(c.sha256)) newBytes += c.size;
    EXPECT_LT(newBytes, middle.size() + 3 * core::kChunkLimits.max);

    Bytes overwritten = file;
    std::fill(overwritten.begin() + file.size() / 3, overwritten.begin() + file.size() / 3 + 65536, 0x5a);
    EXPECT_LE(NewChunks(before, Chunks(overwritten)), 3u);
}

TEST(ContentChunker, AskForMoreBytesBeforeTheEndRatherThanCutEarly)
{
    const Bytes file = RandomBytes(core::kChunkLimits.max, 4);
    EXPECT_EQ(core::NextChunkLength(file.data(), file.size() - 1, false), 0u);
    EXPECT_EQ(core::NextChunkLength(file.data(), 10, true), 10u);
    EXPECT_EQ(core::NextChunkLength(file.data(), 0, true), 0u);
}

const std::string kA(64, 'a'), kB(64, 'b'), kC(64, 'c'), kD(64, 'd'), kE(64, 'e');

core::ManifestFile File(const std::string& path, const std::string& digest, std::vector<core::ManifestChunk> chunks)
{
    core::ManifestFile file{path, 0, 1700000000, digest, std::move(chunks)};
    for (const auto& c : file.chunks) file.size += c.size;
    return file;
}

TEST(PatchManifest, WritesTheSameBytesAndReadsThemBack)
{
    core::PatchManifest manifest;
    manifest.folders = {"qorn/", "qorn/data/", "qorn/空/"};
    manifest.files = {File("qorn/qorn.exe", kA, {{kB, 100}, {kC, 7}}), File("qorn/data/empty.bin", kD, {}),
                      File("qorn/data/Ünï code.txt", kE, {{kC, 7}})};
    const std::string text = core::WriteManifest(manifest);
    EXPECT_EQ(text, core::WriteManifest(manifest));
    EXPECT_EQ(text.substr(0, 20), "launcher-manifest 1\n");

    core::PatchManifest read;
    std::string error;
    ASSERT_TRUE(core::ReadManifest(text, read, error)) << error;
    EXPECT_EQ(core::WriteManifest(read), text);
    EXPECT_EQ(read.folders, manifest.folders);
    ASSERT_EQ(read.files.size(), 3u);
    EXPECT_EQ(read.files[0].size, 107u);
    EXPECT_EQ(read.files[0].modified, 1700000000);
    EXPECT_EQ(read.files[0].chunks[1].sha256, kC);
}

TEST(PatchManifest, RefusesWhatItCouldNotHaveWritten)
{
    const std::string head = "launcher-manifest 1\nfolder\tq/\n";
    const std::string file = "file\tq/a\t5\t1\t" + kA + "\nchunk\t" + kB + "\t5\n";
    const struct {
        std::string text;
        std::string reason;
    } cases[] = {
        {"", "no end line"},
        {"launcher-manifest 2\nend\t0\t0\t0\n", "not a manifest"},
        {head + file + "end\t1\t1\t1", "no line end"},
        {head + file, "no end line"},
        {head + file + "end\t1\t1\t1\nfolder\tr/\n", "after the end line"},
        {head + file + "end\t1\t2\t1\n", "counts do not match"},
        {head + "file\tq/a\t5\t1\t" + kA + "\nend\t1\t1\t0\n", "do not add up"},
        {head + "file\tq/a\t5\t1\t" + kA + "\nchunk\t" + kB + "\t6\nend\t1\t1\t1\n", "do not add up"},
        {head + "file\tq/a\t5\t1\t" + kA + "\nchunk\t" + kB + "\t3\nfile\tq/b\t0\t1\t" + kA + "\nend\t1\t2\t1\n",
         "do not add up"},
        {head + "file\tq/a\t0\t1\t" + kA + "\nchunk\t" + kB + "\t1\nend\t1\t1\t1\n", "beyond its file's size"},
        {head + "file\tq/a\t5\t1\t" + kA + "\nchunk\t" + kB + "\t0\nend\t1\t1\t1\n", "chunk size"},
        {head + "file\tq/a\t5\t1\t" + kA + "\nchunk\t" + kB + "\t" + std::to_string(core::kChunkLimits.max + 1) +
             "\nend\t1\t1\t1\n",
         "chunk size"},
        {head + "file\tq/a\t-5\t1\t" + kA + "\nend\t1\t1\t0\n", "file size"},
        {head + "file\tq/a\t05\t1\t" + kA + "\nend\t1\t1\t0\n", "file size"},
        {head + "file\tq/a\t99999999999999999999\t1\t" + kA + "\nend\t1\t1\t0\n", "file size"},
        {head + "file\tq/a\t0\tnow\t" + kA + "\nend\t1\t1\t0\n", "file time"},
        {head + "file\tq/a\t0\t1\t" + std::string(64, 'A') + "\nend\t1\t1\t0\n", "file digest"},
        {head + "file\tq/a\t5\t1\t" + kA + "\nchunk\t" + kB.substr(1) + "\t5\nend\t1\t1\t1\n", "chunk digest"},
        {head + "file\tq/a\t0\t1\nend\t1\t1\t0\n", "needs 4 fields"},
        {head + "file\tq/a\t0\t1\t" + kA + "\textra\nend\t1\t1\t0\n", "needs 4 fields"},
        {head + "link\tq/a\nend\t1\t0\t0\n", "unknown record"},
        {head + "file\tq/../x\t0\t1\t" + kA + "\nend\t1\t1\t0\n", "\"..\" part"},
        {head + "file\tq//x\t0\t1\t" + kA + "\nend\t1\t1\t0\n", "empty"},
        {head + "file\tq/a\\b\t0\t1\t" + kA + "\nend\t1\t1\t0\n", "backslash"},
        {head + "file\tq/a\rb\t0\t1\t" + kA + "\nend\t1\t1\t0\n", "control character"},
        {head + "file\tq/a/\t0\t1\t" + kA + "\nend\t1\t1\t0\n", "ends with \"/\""},
        {head + "folder\tq/b\nend\t2\t0\t0\n", "must end with"},
        {head + "file\tr/a\t0\t1\t" + kA + "\nend\t1\t1\t0\n", "before its folder"},
        {head + "file\tq/a\t0\t1\t" + kA + "\nfile\tq/A\t0\t1\t" + kA + "\nend\t1\t2\t0\n", "listed twice"},
        {head + "file\tq/a\t0\t1\t" + kA + "\nfolder\tq/a/\nend\t2\t1\t0\n", "listed twice"},
        {head + "folder\tQ/\nend\t2\t0\t0\n", "listed twice"},
    };
    for (const auto& c : cases) {
        core::PatchManifest manifest;
        manifest.folders = {"left/"};
        std::string error;
        EXPECT_FALSE(core::ReadManifest(c.text, manifest, error)) << c.text;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << "\n -> " << error;
        EXPECT_EQ(error.rfind("manifest line ", 0), 0u) << error;
        EXPECT_TRUE(manifest.folders.empty() && manifest.files.empty()) << c.text;
    }
}

TEST(PatchPlan, BuildsOnlyWhatChangedFromChunksTheInstallLacks)
{
    core::PatchManifest installed, target;
    installed.folders = {"q/", "q/old/", "q/old/deeper/", "q/data/"};
    installed.files = {File("q/same.bin", kA, {{kB, 10}}), File("q/changed.bin", kC, {{kB, 10}, {kD, 20}}),
                       File("q/old/deeper/gone.txt", kD, {{kD, 20}}), File("q/Readme.TXT", kE, {{kE, 3}})};
    target.folders = {"q/", "q/data/", "q/new/"};
    const std::string kF(64, 'f'), k1(64, '1'), k2(64, '2'), k3(64, '3');
    target.files = {File("q/same.bin", kA, {{kB, 10}}), File("q/changed.bin", kF, {{kD, 20}, {k1, 5}, {kB, 10}}),
                    File("q/new/a.bin", k2, {{k1, 5}, {k3, 8}}), File("q/readme.txt", k3, {{k3, 8}})};

    const core::PatchPlan plan = core::PlanPatch(installed, target);
    EXPECT_EQ(plan.folders, std::vector<std::string>({"q/new/"}));
    std::vector<std::string> built;
    for (const auto& f : plan.build) built.push_back(f.path);
    // same.bin is left alone; a file whose name changed only in letter case is rebuilt in place.
    EXPECT_EQ(built, std::vector<std::string>({"q/changed.bin", "q/new/a.bin", "q/readme.txt"}));
    EXPECT_EQ(plan.buildBytes, 35u + 13u + 8u);
    // The chunk the install lacks is fetched once though two files use it; k3 likewise.
    ASSERT_EQ(plan.fetch.size(), 2u);
    EXPECT_EQ(plan.fetch[0].sha256, k1);
    EXPECT_EQ(plan.fetch[1].sha256, k3);
    EXPECT_EQ(plan.fetchBytes, 13u);
    // Chunks the install holds are copied from where its manifest places them.
    ASSERT_TRUE(plan.local.count(kD));
    EXPECT_EQ(plan.local.at(kD).offset, plan.local.at(kD).path == "q/changed.bin" ? 10u : 0u);
    EXPECT_EQ(plan.local.at(kB).offset, 0u);
    // Readme.TXT becomes readme.txt: the same file on Windows, so it is not removed.
    EXPECT_EQ(plan.remove, std::vector<std::string>({"q/old/deeper/gone.txt"}));
    EXPECT_EQ(plan.removeFolders, std::vector<std::string>({"q/old/deeper/", "q/old/"}));
}

TEST(PatchPlan, AnUnchangedVersionPlansNothing)
{
    core::PatchManifest same;
    same.folders = {"q/"};
    same.files = {File("q/a", kA, {{kB, 4}})};
    const core::PatchPlan plan = core::PlanPatch(same, same);
    EXPECT_TRUE(plan.folders.empty() && plan.build.empty() && plan.remove.empty() && plan.removeFolders.empty() &&
                plan.fetch.empty());
    EXPECT_EQ(plan.fetchBytes, 0u);
}

}  // namespace
