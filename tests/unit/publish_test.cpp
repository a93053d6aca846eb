// The publisher: game trees packed and read back by the launcher's own package walk into the
// same tree; the package's entries (UTF-8 flag, deflate, order, times) and its repeatable
// bytes; the configuration document as the launcher parses it; trees and values that are
// refused with a message naming the file, leaving nothing behind.
#include <gtest/gtest.h>
#include <minizip/unzip.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "core/publish/channel_config.h"
#include "core/publish/package_writer.h"
#include "core/publish/publish_channel.h"
#include "core/publish/publish_files.h"
#include "core/update/package_extraction.h"
#include "core/update/posix_update_host.h"
#include "core/update/remote_config.h"
#include "core/update/sha256.h"
#include "zip_fixture.h"

namespace {

namespace fs = std::filesystem;

constexpr char kDirectory[] = "<folder>";

// A tree as names below its root ("a/b.txt", folders ending in "/") and file contents.
using Tree = std::map<std::string, std::string>;

void Put(const fs::path& p, const std::string& bytes)
{
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void MakeTree(const fs::path& root, const Tree& tree)
{
    fs::create_directories(root);
    for (const auto& [name, bytes] : tree) {
        if (bytes == kDirectory)
            fs::create_directories(root / name);
        else
            Put(root / name, bytes);
    }
}

Tree ReadTree(const fs::path& root)
{
    Tree tree;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        const std::string name = fs::relative(item.path(), root).string();
        if (item.is_directory())
            tree[name + "/"] = kDirectory;
        else
            tree[name] = Slurp(item.path());
    }
    return tree;
}

// The tree as it should come out of the package: below "qorn/", folders of files included.
Tree Packaged(const Tree& game)
{
    Tree out{{"qorn/", kDirectory}};
    for (const auto& [name, bytes] : game) {
        for (std::size_t slash = name.find('/'); slash != std::string::npos && slash + 1 < name.size();
             slash = name.find('/', slash + 1))
            out["qorn/" + name.substr(0, slash + 1)] = kDirectory;
        out["qorn/" + name] = bytes;
    }
    return out;
}

struct EntryFacts {
    std::string name;
    unsigned long flag = 0;
    unsigned long method = 0;
    unsigned long dosDate = 0;
};

std::vector<EntryFacts> ListEntries(const fs::path& package)
{
    std::vector<EntryFacts> entries;
    unzFile zip = unzOpen64(package.c_str());
    if (!zip) return entries;
    for (int at = unzGoToFirstFile(zip); at == UNZ_OK; at = unzGoToNextFile(zip)) {
        unz_file_info64 info{};
        char name[1024];
        unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0);
        entries.push_back({std::string(name, info.size_filename), info.flag, info.compression_method, info.dosDate});
    }
    unzClose(zip);
    return entries;
}

class Publisher : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = fs::temp_directory_path() / ("publish_test-" + std::to_string(getpid())) /
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(root);
        fs::create_directories(root / "work");
        game = root / "work" / "game";
        out = root / "work" / "out";
    }
    void TearDown() override { fs::remove_all(root); }

    core::PublishRequest Request(const std::string& version = "1.0.3.7")
    {
        core::PublishRequest request;
        request.gameDir = game;
        request.outDir = out;
        request.gameCode = "qorn";
        request.channel = "palmet";
        request.version = version;
        request.baseUrl = "http://cdn.example.test/games/";
        return request;
    }

    bool Publish(const core::PublishRequest& request)
    {
        error.clear();
        return core::PublishChannel(request, summary, error);
    }

    // The package unpacked by the launcher's walk into a fresh client folder; its tree.
    Tree Unpacked(const fs::path& package)
    {
        const fs::path client = root / "client";
        fs::remove_all(client);
        fs::create_directories(client);
        core::PosixUpdateHost host;
        core::PipelineState state;
        const std::wstring dir = core::Utf8ToWide(client.string());
        core::UpdateContext ctx{host, state, nullptr, core::PipelinePaths{dir, dir, L"qorn", L"palmet", L"qorn"}};
        walkSucceeded = core::OnUnzipFile(ctx, core::Utf8ToWide(package.string()));
        for (const auto& line : host.Lines()) walkLog += core::WideToUtf8(line.text) + "\n";
        return ReadTree(client);
    }

    fs::path PackageFile() const { return out / summary.packagePath; }

    fs::path root, game, out;
    core::PublishSummary summary;
    std::string error;
    bool walkSucceeded = false;
    std::string walkLog;
};

struct TreeCase {
    const char* label;
    Tree game;
};

const std::string kExe = "MZ stand-in game";

TEST_F(Publisher, TreesComeBackWholeThroughTheLaunchersWalk)
{
    const TreeCase cases[] = {
        {"only the game", {{"qorn.exe", kExe}}},
        {"nested folders",
         {{"qorn.exe", kExe},
          {"a/b/c/deep.txt", testing_support::TextBytes(70000, 1)},
          {"a/side.bin", testing_support::NoiseBytes(300000, 2)},
          {"z.txt", "last"}}},
        {"empty folders and an empty file",
         {{"qorn.exe", kExe}, {"empty/", kDirectory}, {"a/empty2/", kDirectory}, {"a/zero.bin", ""}}},
        {"non-ASCII names",
         {{"qorn.exe", kExe},
          {"资料/说明.txt", "中文说明"},
          {"données/été.txt", "accents"},
          {"ゲーム/データ.bin", testing_support::NoiseBytes(5000, 3)},
          {"🎮/手柄.cfg", "a character beyond U+FFFF"}}},
    };
    for (const TreeCase& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(game);
        fs::remove_all(out);
        MakeTree(game, c.game);
        ASSERT_TRUE(Publish(Request())) << error;

        const Tree unpacked = Unpacked(PackageFile());
        EXPECT_TRUE(walkSucceeded) << walkLog;
        EXPECT_EQ(unpacked, Packaged(c.game));

        std::size_t files = 0;
        std::uint64_t bytes = 0;
        for (const auto& [name, content] : c.game)
            if (content != kDirectory) ++files, bytes += content.size();
        EXPECT_EQ(summary.files, files);
        EXPECT_EQ(summary.bytes, bytes);
        EXPECT_EQ(summary.packageBytes, fs::file_size(PackageFile()));
    }
}

TEST_F(Publisher, EntriesAreUtf8FlaggedDeflatedAndInStableOrder)
{
    MakeTree(game, {{"qorn.exe", kExe},
                    {"b/x.txt", testing_support::TextBytes(4000, 4)},
                    {"a.txt", "a"},
                    {"B.bin", "upper case sorts first"},
                    {"资料/z.txt", "z"},
                    {"a/", kDirectory},
                    {"empty.txt", ""}});
    ASSERT_TRUE(Publish(Request())) << error;
    std::vector<std::string> names;
    for (const EntryFacts& entry : ListEntries(PackageFile())) {
        names.push_back(entry.name);
        EXPECT_EQ(entry.flag & 0x800, 0x800u) << entry.name;
        const bool stored = entry.name.back() == '/' || entry.name == "qorn/empty.txt";
        EXPECT_EQ(entry.method, stored ? 0u : static_cast<unsigned long>(Z_DEFLATED)) << entry.name;
    }
    // Each folder before what it holds; within a folder, byte order of the UTF-8 names ("a"
    // before "a.txt").
    EXPECT_EQ(names, (std::vector<std::string>{"qorn/", "qorn/B.bin", "qorn/a/", "qorn/a.txt", "qorn/b/",
                                               "qorn/b/x.txt", "qorn/empty.txt", "qorn/qorn.exe", "qorn/资料/",
                                               "qorn/资料/z.txt"}));
}

TEST_F(Publisher, TheSameTreeGivesTheSameBytesAndTheFilesTimesAreKept)
{
    MakeTree(game, {{"qorn.exe", kExe}, {"data/a.bin", testing_support::NoiseBytes(100000, 5)}});
    // 2024-03-09 17:05:42 UTC on every file and folder.
    constexpr std::int64_t kTime = 1710003942;
    for (const auto& item : fs::recursive_directory_iterator(game)) {
        const timespec times[2] = {{kTime, 0}, {kTime, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, item.path().c_str(), times, 0), 0);
    }
    const timespec times[2] = {{kTime, 0}, {kTime, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, game.c_str(), times, 0), 0);

    ASSERT_TRUE(Publish(Request())) << error;
    const std::string first = Slurp(PackageFile());
    const std::string firstDocument = Slurp(out / summary.configPath);
    fs::remove_all(out);
    ASSERT_TRUE(Publish(Request())) << error;
    EXPECT_EQ(Slurp(PackageFile()), first);
    EXPECT_EQ(Slurp(out / summary.configPath), firstDocument);

    // DOS time 2024-03-09 17:05:42: date (44 << 9) | (3 << 5) | 9, time (17 << 11) | (5 << 5) | 21.
    const unsigned long dos = ((44ul << 9 | 3ul << 5 | 9ul) << 16) | (17ul << 11 | 5ul << 5 | 21ul);
    for (const EntryFacts& entry : ListEntries(PackageFile())) EXPECT_EQ(entry.dosDate, dos) << entry.name;

    // A later time is a different package, at a different path.
    const timespec later[2] = {{kTime + 3600, 0}, {kTime + 3600, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (game / "qorn.exe").c_str(), later, 0), 0);
    const std::string firstPath = summary.packagePath;
    ASSERT_TRUE(Publish(Request())) << error;
    EXPECT_NE(summary.packagePath, firstPath);
    EXPECT_NE(Slurp(PackageFile()), first);
}

TEST_F(Publisher, TheDocumentIsWhatTheLaunchersParserReads)
{
    MakeTree(game, {{"qorn.exe", kExe}});
    core::PublishRequest request = Request("1.0.4.0");
    request.miniVersion = "1.0.3.7";
    request.entryUrl = "http://www.example.test/entry/index.html?from=launcher&x=1";
    request.customParameters = "region=cn server=7";
    ASSERT_TRUE(Publish(request)) << error;

    core::Sha256 sha;
    const std::string package = Slurp(PackageFile());
    sha.Update(package.data(), package.size());
    const std::string digest = sha.HexDigest();
    EXPECT_EQ(summary.sha256, digest);
    EXPECT_EQ(summary.packagePath, "packages/palmet/qorn_1.0.4.0_" + digest.substr(0, 16) + ".zip");
    EXPECT_EQ(summary.configPath, "api/merth/ditches/palmet/client_config_palmet.php");
    const std::string url = "http://cdn.example.test/games/" + summary.packagePath;
    EXPECT_EQ(summary.packageUrl, url);

    const std::string document = Slurp(out / summary.configPath);
    EXPECT_EQ(document, "ClientVersion=1.0.4.0\nClientMiniUpdateVersion=1.0.3.7\nClientDownloadUrl=" + url +
                            "\nClient32DownloadUrl=" + url +
                            "\nEntryUrl=http://www.example.test/entry/index.html?from=launcher&x=1\n"
                            "CustomParameters=region=cn server=7\nClientPackageSha256=" + digest +
                            "\nClientPackageSize=" + std::to_string(package.size()) + "\n");
    core::RemoteConfigMap config;
    core::ParseRemoteConfig(core::Utf8ToWide(document), config);
    EXPECT_EQ(*core::FindConfigValue(config, L"ClientDownloadUrl"), core::Utf8ToWide(url));
    EXPECT_EQ(*core::FindConfigValue(config, L"ClientPackageSha256"), core::Utf8ToWide(digest));
    EXPECT_EQ(core::GetEntryUrl(config), L"http://www.example.test/entry/index.html?from=launcher&x=1");
    EXPECT_EQ(core::GetCustomParameters(config), L"region=cn server=7");

    // Without the optional values their keys are absent, and the minimum is the version.
    EXPECT_EQ(core::ChannelConfigDocument({"2.0.0.0", "2.0.0.0", "u", std::nullopt, std::nullopt, "d", 5}),
              "ClientVersion=2.0.0.0\nClientMiniUpdateVersion=2.0.0.0\nClientDownloadUrl=u\nClient32DownloadUrl=u\n"
              "ClientPackageSha256=d\nClientPackageSize=5\n");
    fs::remove_all(out);
    ASSERT_TRUE(Publish(Request("2.0.0.0"))) << error;
    EXPECT_NE(Slurp(out / summary.configPath).find("ClientMiniUpdateVersion=2.0.0.0\n"), std::string::npos);
}

TEST_F(Publisher, ANewVersionJoinsAServedFolderPackageFirst)
{
    MakeTree(game, {{"qorn.exe", kExe}});
    ASSERT_TRUE(Publish(Request("1.0.0.1"))) << error;
    const std::string v1 = summary.packagePath;
    Put(out / "logs" / "reports.log", "GET /api/laucher_info.php?ac=create HTTP/1.1\n");
    Put(game / "qorn.exe", kExe + " v2");
    ASSERT_TRUE(Publish(Request("1.0.0.2"))) << error;
    EXPECT_TRUE(fs::exists(out / v1)) << "launchers may still be fetching the earlier package";
    EXPECT_NE(Slurp(out / summary.configPath).find(summary.packageUrl), std::string::npos);
    EXPECT_EQ(Slurp(out / "logs" / "reports.log"), "GET /api/laucher_info.php?ac=create HTTP/1.1\n");
    EXPECT_EQ(Unpacked(PackageFile()), Packaged({{"qorn.exe", kExe + " v2"}}));
    // Nothing of the work is left beside the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "work"), fs::directory_iterator()), 2);
}

struct Refusal {
    const char* label;
    std::function<void(const fs::path& game)> make;
    std::string message;
};

TEST_F(Publisher, RefusedTreesNameTheFileAndWriteNothing)
{
    const std::string longFolder(200, 'd');
    const Refusal cases[] = {
        {"no game executable", [](const fs::path& g) { Put(g / "game.exe", kExe); },
         "no qorn.exe at the top of the game folder"},
        {"device name", [](const fs::path& g) { Put(g / "qorn.exe", kExe), Put(g / "a" / "con.txt", "x"); },
         "qorn/a/con.txt: the launcher refuses this name (device name)"},
        {"device folder", [](const fs::path& g) { Put(g / "qorn.exe", kExe), Put(g / "LPT1" / "x", "x"); },
         "qorn/LPT1/: the launcher refuses this name (device name)"},
        {"drive or stream", [](const fs::path& g) { Put(g / "qorn.exe", kExe), Put(g / "a:b.txt", "x"); },
         "qorn/a:b.txt: the launcher refuses this name (drive letter or data stream)"},
        {"backslash", [](const fs::path& g) { Put(g / "qorn.exe", kExe), Put(g / "a\\..\\b.txt", "x"); },
         "qorn/a\\..\\b.txt: the launcher refuses this name (\"..\" part)"},
        {"character Windows refuses", [](const fs::path& g) { Put(g / "qorn.exe", kExe), Put(g / "why?.txt", "x"); },
         "qorn/why?.txt: a Windows file name cannot hold the character \"?\""},
        {"control character", [](const fs::path& g) { Put(g / "qorn.exe", kExe), Put(g / "tab\there", "x"); },
         "qorn/tab\there: a Windows file name cannot hold the control character 9"},
        {"trailing dot", [](const fs::path& g) { Put(g / "qorn.exe", kExe), Put(g / "notes." / "a.txt", "x"); },
         "qorn/notes./: Windows drops the dot or blank at the end of \"notes.\""},
        {"not UTF-8", [](const fs::path& g) { Put(g / "qorn.exe", kExe), Put(g / "caf\xe9.txt", "x"); },
         "qorn/caf\xe9.txt: has a name that is not UTF-8 text"},
        {"letter case", [](const fs::path& g) { Put(g / "qorn.exe", kExe), Put(g / "Data.txt", "1"), Put(g / "data.txt", "2"); },
         "qorn/data.txt: is the same file on Windows as qorn/Data.txt (names differ only in letter case)"},
        {"symbolic link",
         [](const fs::path& g) { Put(g / "qorn.exe", kExe), fs::create_symlink("qorn.exe", g / "link.exe"); },
         "qorn/link.exe: is a symbolic link"},
        {"pipe", [](const fs::path& g) { Put(g / "qorn.exe", kExe), mkfifo((g / "pipe").c_str(), 0600); },
         "qorn/pipe: is neither a file nor a folder"},
        {"name too long",
         [&](const fs::path& g) { Put(g / "qorn.exe", kExe), Put(g / longFolder / longFolder / std::string(120, 'f'), "x"); },
         "the launcher takes names below 512"},
        {"path too long on the player's machine",
         [&](const fs::path& g) { Put(g / "qorn.exe", kExe), Put(g / longFolder / longFolder / std::string(96, 'f'), "x"); },
         "characters; the launcher takes paths below 520"},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(game);
        c.make(game);
        EXPECT_FALSE(Publish(Request()));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_FALSE(fs::exists(out));
        EXPECT_EQ(std::distance(fs::directory_iterator(root / "work"), fs::directory_iterator()), 1)
            << "only the game folder";
    }
}

TEST_F(Publisher, RefusedValuesLeaveAServedFolderAsItWas)
{
    MakeTree(game, {{"qorn.exe", kExe}});
    ASSERT_TRUE(Publish(Request("1.0.0.1"))) << error;
    const Tree before = ReadTree(out);
    const auto with = [&](std::function<void(core::PublishRequest&)> change) {
        core::PublishRequest request = Request("1.0.0.2");
        change(request);
        return request;
    };
    const std::pair<core::PublishRequest, std::string> cases[] = {
        {with([](auto& r) { r.version = "1.0.0"; }), "--version \"1.0.0\" is not a version"},
        {with([](auto& r) { r.version = "1.0.0.x"; }), "--version \"1.0.0.x\" is not a version"},
        {with([](auto& r) { r.version = "1.0.0.2147483648"; }), "each number at most 2147483647"},
        {with([](auto& r) { r.miniVersion = "1.0.0.3"; }), "--mini-version 1.0.0.3 is above --version 1.0.0.2"},
        {with([](auto& r) { r.baseUrl = "ftp://x/"; }), "--base-url \"ftp://x/\" does not start with http://"},
        {with([](auto& r) { r.baseUrl = "http://x/{version}/"; }), "which the launcher would fill in"},
        {with([](auto& r) { r.baseUrl = "http://x/a b"; }), "holds a blank"},
        {with([](auto& r) { r.customParameters = "a\nClientVersion=9.9.9.9"; }), "--custom-parameters holds a character"},
        {with([](auto& r) { r.entryUrl = "http://x/页"; }), "--entry-url holds a character"},
        {with([](auto& r) { r.channel = "pal/met"; }), "--channel \"pal/met\" may hold only"},
        {with([](auto& r) { r.gameCode = ""; }), "--code is empty"},
    };
    for (const auto& [request, message] : cases) {
        SCOPED_TRACE(message);
        EXPECT_FALSE(Publish(request));
        EXPECT_NE(error.find(message), std::string::npos) << error;
        EXPECT_EQ(ReadTree(out), before);
    }

    // OUT inside the game folder would end up in the next package.
    core::PublishRequest inside = Request();
    inside.outDir = game / "channel";
    EXPECT_FALSE(Publish(inside));
    EXPECT_NE(error.find("lies inside the game folder"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(game / "channel"));
    inside.outDir = game;
    EXPECT_FALSE(Publish(inside));

    // A folder that holds something else is not taken for a channel.
    const fs::path elsewhere = root / "work" / "documents";
    Put(elsewhere / "letter.txt", "keep");
    core::PublishRequest request = Request();
    request.outDir = elsewhere;
    EXPECT_FALSE(Publish(request));
    EXPECT_NE(error.find("holds other files"), std::string::npos) << error;
    EXPECT_EQ(ReadTree(elsewhere), (Tree{{"letter.txt", "keep"}}));
}

// Whether a path lies in a folder: what keeps OUT out of the package and a signing key out of
// both.
TEST_F(Publisher, PathInsideByTheGivenPathsAndByWhereLinksLead)
{
    MakeTree(game, {{"keys/studio.key", "k"}});
    fs::create_directory_symlink(game, root / "work" / "link");
    const std::pair<fs::path, bool> cases[] = {
        {game / "keys" / "studio.key", true},
        {game, true},
        {game / "keys" / ".." / ".." / "out", false},
        {root / "work" / "game-other" / "studio.key", false},  // a name that merely begins alike
        {root / "work" / "link" / "keys" / "studio.key", true},
        {root / "work" / "link" / "new" / "studio.key", true},  // below a link, not yet made
        {root / "work" / "studio.key", false},
    };
    for (const auto& [path, inside] : cases) {
        EXPECT_EQ(core::PathInside(path, game), inside) << path;
        EXPECT_EQ(core::PathInside(path, game.string() + "/"), inside) << path;
    }
    EXPECT_TRUE(core::PathInside(game / "keys" / "studio.key", root / "work" / "link"));
}

TEST(PackageWriter, DosTimesAndZip64Thresholds)
{
    EXPECT_EQ(core::DosDateTime(315532800), (1ul << 5 | 1ul) << 16);  // 1980-01-01 00:00:00
    EXPECT_EQ(core::DosDateTime(0), core::DosDateTime(315532800));     // before 1980: its first moment
    // 2000-02-29 23:59:59 (a leap day): seconds rounded down to even.
    EXPECT_EQ(core::DosDateTime(951868799), ((20ul << 9 | 2ul << 5 | 29ul) << 16) | (23ul << 11 | 59ul << 5 | 29ul));
    EXPECT_FALSE(core::EntryNeedsZip64(0));
    EXPECT_FALSE(core::EntryNeedsZip64(4000000000ull));
    EXPECT_TRUE(core::EntryNeedsZip64(0xFFFFFFFFull));
    // Incompressible data grows a little when deflated: close below 4 GiB it may pass it.
    EXPECT_TRUE(core::EntryNeedsZip64(0xFFFFFFFFull - 1024));
}

}  // namespace

namespace {

// A signed document's serial follows the one published before into the same folder, and is
// never below the publication time.
TEST(SignedDocumentLines, TheSerialFollowsThePreviousDocumentAndTheClock)
{
    struct Case {
        const char* what;
        std::string previous;
        std::int64_t now;
        std::uint64_t serial;
    };
    const Case cases[] = {
        {"a first document: the time", "", 1700000000, 1700000000},
        {"after one published a second before", "A=1\nClientConfigSerial=1699999999\nB=2\n", 1700000000, 1700000000},
        {"twice in one second", "ClientConfigSerial=1700000000\n", 1700000000, 1700000001},
        {"a clock gone back", "A=1\nClientConfigSerial=1700000500\r\n", 1700000000, 1700000501},
        {"a previous line that is no number", "ClientConfigSerial=x\n", 1700000000, 1700000000},
        {"the key not at the start of a line", "X=ClientConfigSerial=1800000000\n", 1700000000, 1700000000},
    };
    for (const Case& c : cases) EXPECT_EQ(core::NextConfigSerial(c.previous, c.now), c.serial) << c.what;
    EXPECT_EQ(core::SignedDocumentLines(12, std::nullopt), "ClientConfigSerial=12\n");
    EXPECT_EQ(core::SignedDocumentLines(12, 99), "ClientConfigSerial=12\nClientConfigExpires=99\n");
}

}  // namespace
