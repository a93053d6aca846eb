#include "core/update/archive_entry.h"
#include "core/update/package_extraction.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "core/update/posix_update_host.h"
#include "tests/support/raw_zip.h"
#include "tests/unit/extraction_fixture.h"

namespace {

using namespace extraction_test;

TEST_F(PackageExtraction, FiveEntriesShowCountAndPercentThenCompleteTheInstall)
{
    state.remoteConfig[L"ClientVersion"] = L"1.2.3.4";
    ASSERT_TRUE(Pack({{"a.txt", "alpha"},
                      {"b.bin", testing_support::NoiseBytes(50000, 1)},
                      {"c.txt", testing_support::TextBytes(30000, 2), false},
                      {"d.txt", ""},
                      {"e.txt", "echo"}}));

    EXPECT_TRUE(Unzip());

    EXPECT_EQ(window.Calls(), Concat(EntryProgress(5, {20, 40, 60, 80, 100}), kCompletion));
    EXPECT_EQ(Slurp(client / "a.txt"), "alpha");
    EXPECT_EQ(Slurp(client / "b.bin"), testing_support::NoiseBytes(50000, 1));
    EXPECT_EQ(Slurp(client / "c.txt"), testing_support::TextBytes(30000, 2));
    EXPECT_EQ(Slurp(client / "d.txt"), "");
    EXPECT_EQ(Slurp(client / "e.txt"), "echo");
    EXPECT_FALSE(fs::exists(package));
    EXPECT_EQ(Slurp(client / "game_client_version.txt"), "1.2.3.4");
    EXPECT_EQ(host.DesktopSteps(),
              (std::vector<std::wstring>{L"SetRegisties", L"CopyLauncherTo:" + Wide(install / "qorn.exe"),
                                         L"CreateShortcuts"}));
    EXPECT_EQ(host.Reports(), (std::vector<std::wstring>{L"message:game unzip start", L"event:6",
                                                         L"message:game unzip success"}));
    EXPECT_TRUE(Errors().empty());

    const auto lines = host.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().function, "CGameRemoteConfig::OnUnzipFile");
    EXPECT_EQ(lines.front().text, L"unzip file:" + Wide(package) + L" begin");
    EXPECT_EQ(lines.back().function, "CGameRemoteConfig::UnzipFile");
    EXPECT_EQ(lines.back().text, L"unzip is finish!");
    const auto walkFinish = std::count_if(lines.begin(), lines.end(), [](const auto& l) {
        return l.function == "CGameRemoteConfig::OnUnzipFile" && l.text == L"unzip is finish!";
    });
    EXPECT_EQ(walkFinish, 1);
    EXPECT_TRUE(host.HasLine(L"INFO", L"c.txt"));
    EXPECT_TRUE(host.HasLine(L"INFO", host.RunningExecutablePath()));
}

TEST_F(PackageExtraction, PercentIsRoundedDown)
{
    ASSERT_TRUE(Pack({{"1", "x"}, {"2", "y"}, {"3", "z"}}));
    EXPECT_TRUE(Unzip());
    EXPECT_EQ(window.Calls(), Concat(EntryProgress(3, {33, 66, 100}), kCompletion));
}

TEST_F(PackageExtraction, DirectoryEntriesBecomeFoldersAndBigEntriesArriveWhole)
{
    // Larger than the copy block, in both storage methods, so the copy loop turns many times.
    const std::string big = testing_support::NoiseBytes(300000, 7);
    const std::string text = testing_support::TextBytes(200001, 8);
    ASSERT_TRUE(Pack({{"data/", ""},
                      {"data/sub/", ""},
                      {"data/sub/big.bin", big},
                      {"data/stored.txt", text, false},
                      {"\u8d44\u6599/", ""},
                      {"\u8d44\u6599/\u8bf4\u660e.txt", "readme"}}));

    EXPECT_TRUE(Unzip());
    EXPECT_TRUE(fs::is_directory(client / "data" / "sub"));
    EXPECT_EQ(Slurp(client / "data" / "sub" / "big.bin"), big);
    EXPECT_EQ(Slurp(client / "data" / "stored.txt"), text);
    EXPECT_EQ(Slurp(client / fs::u8path("\u8d44\u6599/\u8bf4\u660e.txt")), "readme");
    EXPECT_EQ(window.Calls(), Concat(EntryProgress(6, {16, 33, 50, 66, 83, 100}), kCompletion));
}

TEST_F(PackageExtraction, ADirectoryEntryForAnExistingFolderIsPassedOver)
{
    fs::create_directories(client / "data");
    Put(client / "data" / "old.txt", "kept");
    ASSERT_TRUE(Pack({{"data/", ""}, {"data/new.txt", "new"}}));
    EXPECT_TRUE(Unzip());
    EXPECT_EQ(Slurp(client / "data" / "old.txt"), "kept");
    EXPECT_EQ(Slurp(client / "data" / "new.txt"), "new");
}

// Many packers store no entries for folders: the folders on the way to a file are made.
TEST_F(PackageExtraction, AFileWhoseFoldersHaveNoEntriesGetsThem)
{
    ASSERT_TRUE(Pack({{"first.txt", "1"}, {"data/deeper/f.txt", "f"}, {"data/g.txt", "g"}}));
    EXPECT_TRUE(Unzip()) << ErrorsText();
    EXPECT_EQ(Slurp(client / "first.txt"), "1");
    EXPECT_EQ(Slurp(client / "data" / "deeper" / "f.txt"), "f");
    EXPECT_EQ(Slurp(client / "data" / "g.txt"), "g");
}

TEST_F(PackageExtraction, AFolderThatCannotBeMadeFailsNamingTheTarget)
{
    Put(client / "data", "a file where the folder belongs");
    ASSERT_TRUE(Pack({{"first.txt", "1"}, {"data/f.txt", "f"}}));
    EXPECT_FALSE(Unzip());
    ExpectFailedRun();
    ExpectProgressThenFailure(2, {50});
    // What was finished before the failure stays (with one worker, first.txt always is).
    if (workers == 1) {
        EXPECT_EQ(Slurp(client / "first.txt"), "1");
    }
    ExpectOnlyWholeFiles({{"first.txt", "1"}, {"data", "a file where the folder belongs"}});
    EXPECT_TRUE(HasErrorContaining(L"cannot create " + (client / "data" / "f.txt").wstring())) << ErrorsText();
}

// Which encoding an entry name is read in: UTF-8 when flag bit 11 says so or a Unicode Path
// field for exactly this header name carries it; else the code page, with no guessing.
struct NameCase {
    const char* what;
    ZipEntry entry;
    std::string expectedUtf8;  // the file's name as it must appear on disk
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.what; }

class EntryNameEncoding : public PackageExtraction, public ::testing::WithParamInterface<NameCase> {};

TEST_P(EntryNameEncoding, InstallsUnderTheMeantName)
{
    host.singleByteCodePage = true;
    ASSERT_TRUE(Pack({GetParam().entry}));
    ASSERT_TRUE(Unzip()) << ErrorsText();
    EXPECT_EQ(Slurp(client / GetParam().expectedUtf8), "content") << GetParam().what;
}

ZipEntry Named(const std::string& name, unsigned long flags = 0, std::string centralExtra = {})
{
    ZipEntry e{name, "content", true};
    e.flags = flags;
    e.centralExtra = std::move(centralExtra);
    return e;
}

const std::string kGbkName = "\xd7\xca\xd4\xb4.txt";  // 资源.txt in code page 936
const std::string kUtf8Name = "\xe8\xb5\x84\xe6\xba\x90.txt";  // 资源.txt in UTF-8
// The GBK bytes read one character per byte, written to disk as UTF-8.
const std::string kGbkBytesAsChars = "\xc3\x97\xc3\x8a\xc3\x94\xc2\xb4.txt";

INSTANTIATE_TEST_SUITE_P(
    Table, EntryNameEncoding,
    ::testing::Values(
        NameCase{"flag bit 11: UTF-8", Named(kUtf8Name, 0x800), kUtf8Name},
        NameCase{"flag bit 11, folders, Japanese and accents",
                 Named("\xe3\x83\x87\xe3\x83\xbc\xe3\x82\xbf/caf\xc3\xa9.txt", 0x800),
                 "\xe3\x83\x87\xe3\x83\xbc\xe3\x82\xbf/caf\xc3\xa9.txt"},
        NameCase{"Unicode Path field for this name", Named(kGbkName, 0, testing_support::UnicodePathField(kGbkName, kUtf8Name)),
                 kUtf8Name},
        NameCase{"Unicode Path field made for another name",
                 Named(kGbkName, 0, testing_support::UnicodePathField(kGbkName, kUtf8Name, 1)), kGbkBytesAsChars},
        NameCase{"no marker: the code page", Named(kGbkName), kGbkBytesAsChars},
        NameCase{"UTF-8 bytes without a marker are still code page", Named(kUtf8Name),
                 "\xc3\xa8\xc2\xb5\xc2\x84\xc3\xa6\xc2\xba\xc2\x90.txt"}));

TEST(UnicodePathField, IsFoundAmongOtherFieldsAndRefusedWhenCut)
{
    const std::string other("\x55\x54\x05\x00\x01\x02\x03\x04\x05", 9);  // a time stamp field
    const std::string field = testing_support::UnicodePathField("a.txt", "b.txt");
    const unsigned long crc = testing_support::Crc32("a.txt");
    std::string name;
    EXPECT_TRUE(core::FindUnicodePathName(other + field, crc, name));
    EXPECT_EQ(name, "b.txt");
    EXPECT_FALSE(core::FindUnicodePathName(other + field.substr(0, field.size() - 1), crc, name));
    std::string version2 = field;
    version2[4] = '\x02';
    EXPECT_FALSE(core::FindUnicodePathName(version2, crc, name));
    EXPECT_FALSE(core::FindUnicodePathName("", crc, name));
}

TEST_F(PackageExtraction, ExistingFilesAreReplacedAndOthersLeftAlone)
{
    Put(client / "a.txt", "an old and much longer content");
    Put(client / "keep.txt", "mine");
    ASSERT_TRUE(Pack({{"a.txt", "new"}}));
    EXPECT_TRUE(Unzip());
    EXPECT_EQ(Slurp(client / "a.txt"), "new");
    EXPECT_EQ(Slurp(client / "keep.txt"), "mine");
}

TEST_F(PackageExtraction, AnEmptyArchiveCompletesTheInstall)
{
    state.remoteConfig[L"ClientVersion"] = L"2.0.0.0";
    ASSERT_TRUE(Pack({}));
    EXPECT_TRUE(Unzip());
    EXPECT_EQ(window.Calls(), kCompletion);
    EXPECT_FALSE(fs::exists(package));
    EXPECT_EQ(host.DesktopSteps(),
              (std::vector<std::wstring>{L"SetRegisties", L"CopyLauncherTo:" + Wide(install / "qorn.exe"),
                                         L"CreateShortcuts"}));
    EXPECT_EQ(Slurp(client / "game_client_version.txt"), "2.0.0.0");
    EXPECT_EQ(host.Reports(), (std::vector<std::wstring>{L"message:game unzip start", L"event:6",
                                                         L"message:game unzip success"}));
}

TEST_F(PackageExtraction, AnEmptyArchiveWithACommentCompletesTheInstallToo)
{
    ASSERT_TRUE(testing_support::WriteZip(package.string(), {}, "no entries in this one"));
    EXPECT_TRUE(Unzip());
    EXPECT_EQ(window.Calls(), kCompletion);
    EXPECT_FALSE(fs::exists(package));
}

TEST_F(PackageExtraction, AnEndRecordThatClaimsEntriesIsNotAnEmptyArchive)
{
    std::string record("PK\x05\x06\0\0\0\0\x01\0\x01\0", 12);
    record += std::string(10, '\0');
    Put(package, record);
    EXPECT_FALSE(Unzip());
    EXPECT_EQ(Errors(), (std::vector<std::wstring>{L"zipfile is NULL!", L"unzip is error!"}));
}

TEST_F(PackageExtraction, APackageThatIsNotAZipFailsAndStays)
{
    Put(package, "<html>404 not found</html>");
    Put(client / "game_client_version.txt", "1.0.0.0");
    state.remoteConfig[L"ClientVersion"] = L"2.0.0.0";

    EXPECT_FALSE(Unzip());

    EXPECT_TRUE(host.HasLine(L"ERROR", L"zipfile is NULL!"));
    EXPECT_EQ(Errors(), (std::vector<std::wstring>{L"zipfile is NULL!", L"unzip is error!"}));
    EXPECT_EQ(window.Calls(), kFailure);
    EXPECT_EQ(Slurp(package), "<html>404 not found</html>");
    EXPECT_EQ(host.Reports(), (std::vector<std::wstring>{L"message:game unzip start", L"message:game unzip failed"}));
    EXPECT_TRUE(host.DesktopSteps().empty());
    EXPECT_EQ(Slurp(client / "game_client_version.txt"), "1.0.0.0");
}

TEST_F(PackageExtraction, AMissingPackageFails)
{
    EXPECT_FALSE(Unzip());
    EXPECT_EQ(Errors(), (std::vector<std::wstring>{L"zipfile is NULL!", L"unzip is error!"}));
    EXPECT_EQ(window.Calls(), kFailure);
    EXPECT_TRUE(host.DesktopSteps().empty());
}

class RefusedEntryName : public PackageExtraction, public ::testing::WithParamInterface<const char*> {};

TEST_P(RefusedEntryName, FailsNamingTheEntryAndWritesNothing)
{
    // "a" exists, so a path through it would resolve if the name were used.
    fs::create_directory(client / "a");
    ASSERT_TRUE(Pack({{GetParam(), "payload"}}));
    const auto before = Tree();

    EXPECT_FALSE(Unzip());

    EXPECT_EQ(Tree(), before);
    EXPECT_TRUE(HasErrorContaining(L"entry refused"));
    EXPECT_TRUE(HasErrorContaining(core::Utf8ToWide(GetParam())));
    ExpectFailedRun();
    EXPECT_EQ(window.Calls(), kFailure);
}

INSTANTIATE_TEST_SUITE_P(Table, RefusedEntryName,
                         ::testing::Values("../x", "a/../../x", "..\\x", "/etc/x", "C:/x", "\\\\srv\\x", "a:b",
                                           "a/../../client/x", "CON"));

// Every name is checked before anything is written, so the good entries before a refused one
// are not unpacked either, and no folder is made.
TEST_F(PackageExtraction, ARefusedEntryStopsTheWalkBeforeAnythingIsWritten)
{
    ASSERT_TRUE(Pack({{"good/", ""}, {"good/a.txt", "g"}, {"../evil.txt", "e"}, {"later/b.txt", "l"}}));
    EXPECT_FALSE(Unzip());
    EXPECT_TRUE(fs::is_empty(client));
    EXPECT_FALSE(fs::exists(install / "evil.txt"));
    EXPECT_EQ(window.Calls(), kFailure);
    // Names up to the refused one are logged, then what refused it.
    EXPECT_TRUE(host.HasLine(L"INFO", L"good/a.txt"));
    EXPECT_TRUE(HasErrorContaining(L"entry refused (\"..\" part): ../evil.txt")) << ErrorsText();
}

TEST_F(PackageExtraction, AnEmptyEntryNameIsRefused)
{
    ASSERT_TRUE(Pack({{"", "x"}}));
    EXPECT_FALSE(Unzip());
    EXPECT_TRUE(HasErrorContaining(L"entry refused (empty name)"));
    ExpectFailedRun();
}

TEST_F(PackageExtraction, ANameWithANulInsideIsRefusedRatherThanCutShort)
{
    ASSERT_TRUE(Pack({{"cut-here.txt", "x"}}));
    // The name sits in the local and the central header; put a NUL into both.
    std::string bytes = *Slurp(package);
    for (auto at = bytes.find("cut-here.txt"); at != std::string::npos; at = bytes.find("cut-here.txt", at))
        bytes[at + 3] = '\0';
    Put(package, bytes);
    const auto before = Tree();

    EXPECT_FALSE(Unzip());
    EXPECT_EQ(Tree(), before);
    EXPECT_TRUE(HasErrorContaining(L"entry refused (NUL character in the name)"));
    ExpectFailedRun();
}

TEST_F(PackageExtraction, AnArchiveThatClaimsMoreEntriesThanItHoldsFails)
{
    ASSERT_TRUE(Pack({{"one.txt", "1"}, {"two.txt", "2"}}));
    std::string bytes = *Slurp(package);
    const auto end = bytes.rfind(std::string("PK\x05\x06", 4));
    ASSERT_NE(end, std::string::npos);
    bytes[end + 8] = 3;   // entries on this disk
    bytes[end + 10] = 3;  // entries in all
    Put(package, bytes);

    EXPECT_FALSE(Unzip());
    ExpectFailedRun();
    // The sizes are added up before anything is written, and that pass finds the gap.
    EXPECT_EQ(window.Calls(), kFailure);
    EXPECT_TRUE(HasErrorContaining(L"cannot reach entry 3 of 3")) << ErrorsText();
    EXPECT_TRUE(fs::is_empty(client));
}

// Entries whose data do not match their headers.
struct DamageCase {
    const char* what;
    ZipEntry entry;
    const wchar_t* error;  // an ERROR line containing this, besides "unzip is error!"; "" for none
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.what; }

class DamagedEntry : public PackageExtraction, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedEntry, FailsTheExtraction)
{
    ASSERT_TRUE(Pack({{"ok.txt", "fine"}, GetParam().entry}));
    EXPECT_FALSE(Unzip());
    ExpectFailedRun();
    ExpectProgressThenFailure(2, {50});
    // The damaged entry's file is not left behind half written or unverified.
    ExpectOnlyWholeFiles({{"ok.txt", "fine"}});
    // The entry that stopped the walk is named, before the walk's own last word.
    EXPECT_TRUE(HasErrorContaining(GetParam().error)) << ErrorsText();
}

const std::string kPayload = testing_support::TextBytes(100000, 3);
const std::string kDeflated = testing_support::RawDeflate(kPayload);

ZipEntry Raw(const char* name, std::string bytes, bool deflate, unsigned long crc, unsigned long size)
{
    ZipEntry e{name, std::move(bytes), deflate};
    e.raw = true;
    e.rawCrc = crc;
    e.rawSize = size;
    return e;
}

INSTANTIATE_TEST_SUITE_P(
    Table, DamagedEntry,
    ::testing::Values(
        DamageCase{"stored data with a wrong CRC",
                   Raw("bad.txt", "hello world", false, testing_support::Crc32("hello world") ^ 1u, 11),
                   L"CRC error in entry bad.txt"},
        DamageCase{"deflated data with a wrong CRC",
                   Raw("bad.txt", kDeflated, true, testing_support::Crc32(kPayload) ^ 0x80000000u,
                       static_cast<unsigned long>(kPayload.size())),
                   L"CRC error in entry bad.txt"},
        DamageCase{"deflate stream cut in half",
                   Raw("bad.txt", kDeflated.substr(0, kDeflated.size() / 2), true, testing_support::Crc32(kPayload),
                       static_cast<unsigned long>(kPayload.size())),
                   L"cannot read entry bad.txt"},
        DamageCase{"not a deflate stream", Raw("bad.txt", std::string(64, '\xff'), true, 0, 1000),
                   L"cannot read entry bad.txt"},
        DamageCase{"stored data shorter than declared",
                   Raw("bad.txt", "short", false, testing_support::Crc32("short"), 500),
                   L"entry bad.txt has 5 bytes, the archive declares 500"},
        DamageCase{"deflate stream that ends before the declared size",
                   Raw("bad.txt", kDeflated, true, testing_support::Crc32(kPayload),
                       static_cast<unsigned long>(kPayload.size() + 10)),
                   L"entry bad.txt has 100000 bytes, the archive declares 100010"}));

// The same damage in entries larger than one copy block, which stream through the inflater a
// block at a time instead of being inflated whole, and a stream that makes more than declared.
const std::string kLargePayload = testing_support::TextBytes(3u << 20, 5);
const std::string kLargeDeflated = testing_support::RawDeflate(kLargePayload);
const std::string kLargeNoise = testing_support::NoiseBytes(1300000, 6);
const auto kLargeSize = static_cast<unsigned long>(kLargePayload.size());

INSTANTIATE_TEST_SUITE_P(
    Streamed, DamagedEntry,
    ::testing::Values(
        DamageCase{"stored data with a wrong CRC",
                   Raw("bad.txt", kLargeNoise, false, testing_support::Crc32(kLargeNoise) ^ 4u,
                       static_cast<unsigned long>(kLargeNoise.size())),
                   L"CRC error in entry bad.txt"},
        DamageCase{"stored data shorter than declared",
                   Raw("bad.txt", kLargeNoise, false, testing_support::Crc32(kLargeNoise),
                       static_cast<unsigned long>(kLargeNoise.size() + 1)),
                   L"entry bad.txt has 1300000 bytes, the archive declares 1300001"},
        DamageCase{"deflated data with a wrong CRC",
                   Raw("bad.txt", kLargeDeflated, true, testing_support::Crc32(kLargePayload) ^ 0x10000u, kLargeSize),
                   L"CRC error in entry bad.txt"},
        DamageCase{"deflate stream cut in half",
                   Raw("bad.txt", kLargeDeflated.substr(0, kLargeDeflated.size() / 2), true,
                       testing_support::Crc32(kLargePayload), kLargeSize),
                   L"cannot read entry bad.txt"},
        DamageCase{"deflate stream that ends before the declared size",
                   Raw("bad.txt", kLargeDeflated, true, testing_support::Crc32(kLargePayload), kLargeSize + 1),
                   L"entry bad.txt has 3145728 bytes, the archive declares 3145729"},
        DamageCase{"deflate stream that goes on past the declared size",
                   Raw("bad.txt", kLargeDeflated, true, testing_support::Crc32(kLargePayload), kLargeSize - 1),
                   L"entry bad.txt has more bytes than the archive declares (3145727)"},
        DamageCase{"small deflate stream that goes on past the declared size",
                   Raw("bad.txt", kDeflated, true, testing_support::Crc32(kPayload),
                       static_cast<unsigned long>(kPayload.size() - 1)),
                   L"entry bad.txt has more bytes than the archive declares (99999)"}));

TEST_F(PackageExtraction, ATargetThatCannotBeCreatedFails)
{
    fs::create_directory(client / "x.txt");  // a folder where the file should go
    ASSERT_TRUE(Pack({{"x.txt", "x"}}));
    EXPECT_FALSE(Unzip());
    ExpectFailedRun();
    EXPECT_EQ(Errors(), (std::vector<std::wstring>{L"cannot create " + (client / "x.txt").wstring(), L"unzip is error!"}));
}

// The file is written straight through, with no buffer of the C library between: a full disk
// shows up at the write that reaches it, and a file system that reports a failed write only
// when the file is closed shows it at the close.
struct DiskFullCase {
    const char* what;
    std::size_t size;
    bool failsAtClose;
};

void PrintTo(const DiskFullCase& c, std::ostream* os) { *os << c.what; }

class DiskFull : public PackageExtraction, public ::testing::WithParamInterface<DiskFullCase> {};

TEST_P(DiskFull, AWriteErrorFailsTheExtraction)
{
    (GetParam().failsAtClose ? host.closeFailName : host.diskFullName) = L"full.bin";
    ASSERT_TRUE(Pack({{"first.txt", "1"}, {"full.bin", testing_support::NoiseBytes(GetParam().size, 4)}}));
    EXPECT_FALSE(Unzip());
    ExpectFailedRun();
    EXPECT_TRUE(HasErrorContaining(L"cannot write " + Wide(client / "full.bin")));
    ExpectOnlyWholeFiles({{"first.txt", "1"}});
}

INSTANTIATE_TEST_SUITE_P(
    Table, DiskFull,
    ::testing::Values(DiskFullCase{"a small file: the error comes at its only write", 100, false},
                      DiskFullCase{"larger than a block: the error comes at the first write", 4u << 20, false},
                      DiskFullCase{"every write passes: the error comes at close", 100, true},
                      DiskFullCase{"many blocks pass: the error comes at close", 4u << 20, true}));

TEST_F(PackageExtraction, AnEntryNameAtTheNameBufferSizeFails)
{
    for (std::size_t size : {512u, 600u}) {
        ASSERT_TRUE(Pack({{std::string(size, 'n'), "x"}}));
        EXPECT_FALSE(Unzip());
        EXPECT_TRUE(HasErrorContaining(L"entry name of " + std::to_wstring(size) + L" bytes is too long"));
        ExpectFailedRun();
    }
    // One byte less passes the name buffer and meets the path limit instead (the client
    // directory adds to it).
    ASSERT_TRUE(Pack({{std::string(511, 'n'), "x"}}));
    EXPECT_FALSE(Unzip());
    EXPECT_TRUE(HasErrorContaining(L"target path too long for entry nnnn"));
    EXPECT_EQ(Tree(), std::vector<std::string>({"qorn-palmet/", "qorn-palmet/client/",
                                                 "qorn-palmet/qorn.zip=" + *Slurp(package)}));
}

// Target paths of 519 characters fit the path buffer, 520 do not. Folder levels keep each part
// of the name within what Linux allows.
class TargetPathLength : public PackageExtraction, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(TargetPathLength, IsLimitedByThePathBuffer)
{
    const std::size_t pathLength = GetParam();
    const std::string prefix = client.string() + "/";
    const std::string level1 = std::string(200, 'p') + "/";
    const std::string level2 = level1 + std::string(200, 'q') + "/";
    ASSERT_GT(pathLength, prefix.size() + level2.size());
    const std::string name = level2 + std::string(pathLength - prefix.size() - level2.size(), 'r');
    ASSERT_LE(name.size() - level2.size(), 255u);
    ASSERT_TRUE(Pack({{level1, ""}, {level2, ""}, {name, "deep"}}));

    const bool fits = pathLength < 520;
    EXPECT_EQ(Unzip(), fits);
    EXPECT_EQ(Slurp(client / name), fits ? std::optional<std::string>("deep") : std::nullopt);
    EXPECT_EQ(HasErrorContaining(L"target path too long"), !fits);
}

INSTANTIATE_TEST_SUITE_P(Table, TargetPathLength, ::testing::Values(519u, 520u));

TEST_F(PackageExtraction, AFailedLauncherCopyIsLoggedWithoutShortcutsAndTheInstallSucceeds)
{
    host.copyLauncherError = 32;  // ERROR_SHARING_VIOLATION: running from the copy itself
    state.remoteConfig[L"ClientVersion"] = L"3.1.0.0";
    ASSERT_TRUE(Pack({{"a.txt", "a"}}));

    EXPECT_TRUE(Unzip());

    EXPECT_EQ(Errors(), std::vector<std::wstring>{L"CopyFile ret:32"});
    EXPECT_EQ(host.DesktopSteps(),
              (std::vector<std::wstring>{L"SetRegisties", L"CopyLauncherTo:" + Wide(install / "qorn.exe")}));
    EXPECT_EQ(window.Calls(), Concat(EntryProgress(1, {100}), kCompletion));
    EXPECT_EQ(Slurp(client / "game_client_version.txt"), "3.1.0.0");
}

TEST_F(PackageExtraction, TheLauncherCopyIsNamedAfterTheLauncherName)
{
    ASSERT_TRUE(Pack({}));
    auto ctx = Context(&window);
    ctx.paths.launcherExeName = L"qorn_7";
    EXPECT_TRUE(core::UnzipFile(ctx, Wide(package), nullptr));
    EXPECT_EQ(host.DesktopSteps().at(1), L"CopyLauncherTo:" + Wide(install / "qorn_7.exe"));
}

struct VersionRecordCase {
    const char* what;
    std::optional<std::wstring> clientVersion;
    std::string record;
};

void PrintTo(const VersionRecordCase& c, std::ostream* os) { *os << c.what; }

class VersionRecordAfterInstall : public PackageExtraction, public ::testing::WithParamInterface<VersionRecordCase> {};

TEST_P(VersionRecordAfterInstall, HoldsTheConfigurationValueAsItStands)
{
    Put(client / "game_client_version.txt", "0.9.9.9\nsecond line");
    if (GetParam().clientVersion) state.remoteConfig[L"ClientVersion"] = *GetParam().clientVersion;
    state.remoteConfig[L"ClientMiniUpdateVersion"] = L"1.0.0.0";
    ASSERT_TRUE(Pack({}));
    EXPECT_TRUE(Unzip());
    EXPECT_EQ(Slurp(client / "game_client_version.txt"), GetParam().record);
}

INSTANTIATE_TEST_SUITE_P(
    Table, VersionRecordAfterInstall,
    ::testing::Values(VersionRecordCase{"digits and dots", L"1.2.3.4", "1.2.3.4"},
                      VersionRecordCase{"not reformatted", L" 01.2 beta", " 01.2 beta"},
                      VersionRecordCase{"empty value", L"", ""},
                      VersionRecordCase{"absent: empty record", std::nullopt, ""},
                      VersionRecordCase{"ANSI bytes of the host", L"v\u7248\u672c", "v\xe7\x89\x88\xe6\x9c\xac"}));

TEST_F(PackageExtraction, AVersionRecordThatCannotBeOpenedIsSilent)
{
    state.remoteConfig[L"ClientVersion"] = L"1.0.0.0";
    fs::create_directory(client / "game_client_version.txt");  // a folder: fopen fails
    ASSERT_TRUE(Pack({}));
    EXPECT_TRUE(Unzip());
    EXPECT_TRUE(Errors().empty());
    EXPECT_EQ(window.Calls(), kCompletion);
}

TEST_F(PackageExtraction, WithoutAWindowTheRunGoesOnUnchanged)
{
    state.remoteConfig[L"ClientVersion"] = L"1.0.0.0";
    ASSERT_TRUE(Pack({{"a.txt", "a"}, {"b.txt", "b"}}));
    EXPECT_TRUE(UnzipWith(nullptr));
    EXPECT_EQ(Slurp(client / "b.txt"), "b");
    EXPECT_EQ(Slurp(client / "game_client_version.txt"), "1.0.0.0");
    EXPECT_FALSE(fs::exists(package));

    Put(package, "not a zip");
    EXPECT_FALSE(UnzipWith(nullptr));
    EXPECT_TRUE(host.HasLine(L"ERROR", L"unzip is error!"));
    EXPECT_TRUE(window.Calls().empty());
}

// A read handle on the package as the download step passes it; records when it is closed.
struct HandleProbe {
    fs::path package;
    int closes = 0;
    bool packageExistedAtClose = false;
};

std::FILE* OpenProbe(HandleProbe& probe)
{
    cookie_io_functions_t io{};
    io.read = [](void*, char*, std::size_t) -> ssize_t { return 0; };
    io.close = [](void* cookie) -> int {
        auto* p = static_cast<HandleProbe*>(cookie);
        ++p->closes;
        p->packageExistedAtClose = fs::exists(p->package);
        return 0;
    };
    return fopencookie(&probe, "r", io);
}

TEST_F(PackageExtraction, TheCallersHandleIsClosedBeforeThePackageIsDeleted)
{
    ASSERT_TRUE(Pack({{"a.txt", "a"}}));
    HandleProbe probe{package};
    EXPECT_TRUE(Unzip(OpenProbe(probe)));
    EXPECT_EQ(probe.closes, 1);
    EXPECT_TRUE(probe.packageExistedAtClose);
    EXPECT_FALSE(fs::exists(package));
}

TEST_F(PackageExtraction, TheCallersHandleIsClosedWhenExtractionFails)
{
    Put(package, "garbage");
    HandleProbe probe{package};
    EXPECT_FALSE(Unzip(OpenProbe(probe)));
    EXPECT_EQ(probe.closes, 1);
    EXPECT_TRUE(fs::exists(package));
}

TEST_F(PackageExtraction, TheWalkAloneLeavesThePackageAndTheInstallSteps)
{
    ASSERT_TRUE(Pack({{"a.txt", "a"}}));
    auto ctx = Context(&window);
    EXPECT_TRUE(core::OnUnzipFile(ctx, Wide(package)));
    EXPECT_TRUE(fs::exists(package));
    EXPECT_TRUE(host.DesktopSteps().empty());
    EXPECT_EQ(window.Calls(), EntryProgress(1, {100}));
    EXPECT_EQ(host.Lines().back().text, L"unzip is finish!");
}

}  // namespace

// Central records may share one stored stream, so a small package can declare far more than it
// holds. The walk adds up what the entries declare (with a margin for each file) and starts
// only when that fits the drive.
TEST_F(PackageExtraction, UnpacksOnlyWhatTheEntriesDeclareFitsTheDrive)
{
    constexpr std::size_t kEntryBytes = 64 * 1024;
    constexpr int kRecords = 64;  // 4 MiB declared, 64 KiB stored
    constexpr std::int64_t kDeclared =
        static_cast<std::int64_t>(kEntryBytes + core::kUnpackSlackPerFile) * kRecords;
    testing_support::RawZip zip;
    zip.Add("e/00.bin", testing_support::NoiseBytes(kEntryBytes, 3));
    for (int k = 1; k < kRecords; ++k) zip.AddAlias(0, "e/" + std::string(k < 10 ? "0" : "") + std::to_string(k) + ".bin");
    Put(package, zip.Bytes());
    ASSERT_LT(fs::file_size(package), 80u * 1024);

    struct Case {
        const char* what;
        std::optional<std::int64_t> freeBytes;
        bool unpacks;
    };
    const Case cases[] = {
        {"a quarter of the declared size free", kDeclared / 4, false},
        {"one byte short", kDeclared - 1, false},
        {"exactly the declared size and margin free", kDeclared, true},
        {"free space unknown", -1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        host.freeBytes = c.freeBytes;
        fs::remove_all(client);
        fs::create_directories(client);
        Put(package, zip.Bytes());

        EXPECT_EQ(Unzip(), c.unpacks) << ErrorsText();
        if (c.unpacks) {
            EXPECT_EQ(Slurp(client / "e" / "63.bin"), testing_support::NoiseBytes(kEntryBytes, 3));
            continue;
        }
        ExpectFailedRun();
        EXPECT_TRUE(HasErrorContaining(L"the entries need " + std::to_wstring(kDeclared) + L" bytes"));
        EXPECT_TRUE(HasErrorContaining(L"has " + std::to_wstring(*c.freeBytes) + L" bytes free"));
        EXPECT_TRUE(fs::is_empty(client)) << "nothing is written before the check";
    }
}

// Sizes and offsets past 4 GiB live in zip64 records, which minizip 1.1 takes only where
// unsigned long has 32 bits: both Windows builds, where the Windows tests unpack such an archive.
TEST_F(PackageExtraction, UnpacksAnEntryLargerThan4GiBAndOneStartingPastIt)
{
    if (sizeof(unsigned long) != 4)
        GTEST_SKIP() << "minizip 1.1 reads zip64 records only where unsigned long is 32 bits, not on this host; "
                        "the Windows tests unpack an archive past 4 GiB under Wine";
    constexpr std::uint64_t kLarge = (std::uint64_t{1} << 32) + 4097;
    testing_support::RawZip zip;
    zip.AddZeros("large.bin", kLarge);
    zip.Add("past4g.txt", "past 4 GiB");
    {
        std::ofstream out(package, std::ios::binary | std::ios::trunc);
        for (const auto& piece : zip.Pieces()) {
            out.seekp(static_cast<std::streamoff>(piece.offset));
            out.write(piece.bytes.data(), static_cast<std::streamsize>(piece.bytes.size()));
        }
        ASSERT_TRUE(out.flush()) << "cannot write the sparse archive";
    }
    ASSERT_TRUE(Unzip()) << ErrorsText();
    EXPECT_EQ(fs::file_size(client / "large.bin"), kLarge);
    EXPECT_EQ(Slurp(client / "past4g.txt"), "past 4 GiB");
}
