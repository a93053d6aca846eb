#include "core/update/archive_entry.h"

#include <gtest/gtest.h>

#include "core/update/posix_update_host.h"

namespace {

using core::EntryNameVerdict;

struct NameCase {
    std::wstring name;
    EntryNameVerdict verdict;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << '"' << core::WideToUtf8(c.name) << '"'; }

class EntryNameRule : public ::testing::TestWithParam<NameCase> {};

TEST_P(EntryNameRule, Verdict)
{
    EXPECT_EQ(core::CheckEntryName(GetParam().name), GetParam().verdict);
}

INSTANTIATE_TEST_SUITE_P(
    Accepted, EntryNameRule,
    ::testing::Values(NameCase{L"a.txt", EntryNameVerdict::Accepted},
                      NameCase{L"dir/", EntryNameVerdict::Accepted},
                      NameCase{L"client/qorn/qorn.exe", EntryNameVerdict::Accepted},
                      NameCase{L"a/./b", EntryNameVerdict::Accepted},
                      NameCase{L"a//b", EntryNameVerdict::Accepted},
                      NameCase{L".hidden", EntryNameVerdict::Accepted},
                      NameCase{L"a..b/..c", EntryNameVerdict::Accepted},
                      NameCase{L"win\\style\\path.dat", EntryNameVerdict::Accepted},
                      NameCase{L"console.txt", EntryNameVerdict::Accepted},
                      NameCase{L"com10.dat", EntryNameVerdict::Accepted},
                      NameCase{L"\u8d44\u6599/\u8bf4\u660e.txt", EntryNameVerdict::Accepted}));

INSTANTIATE_TEST_SUITE_P(
    Refused, EntryNameRule,
    ::testing::Values(NameCase{L"", EntryNameVerdict::Empty},
                      NameCase{std::wstring(L"safe.txt\0../x", 13), EntryNameVerdict::EmbeddedNul},
                      NameCase{L"/etc/x", EntryNameVerdict::Absolute},
                      NameCase{L"\\x", EntryNameVerdict::Absolute},
                      NameCase{L"\\\\srv\\share\\x", EntryNameVerdict::Absolute},
                      NameCase{L"//srv/share/x", EntryNameVerdict::Absolute},
                      NameCase{L"C:/x", EntryNameVerdict::DriveOrStream},
                      NameCase{L"C:x", EntryNameVerdict::DriveOrStream},
                      NameCase{L"a:b", EntryNameVerdict::DriveOrStream},
                      NameCase{L"game.exe:hidden", EntryNameVerdict::DriveOrStream},
                      NameCase{L"..", EntryNameVerdict::ParentPart},
                      NameCase{L"../x", EntryNameVerdict::ParentPart},
                      NameCase{L"a/../../x", EntryNameVerdict::ParentPart},
                      NameCase{L"a/..", EntryNameVerdict::ParentPart},
                      NameCase{L"../", EntryNameVerdict::ParentPart},
                      NameCase{L"..\\x", EntryNameVerdict::ParentPart},
                      NameCase{L"a\\..\\..\\x", EntryNameVerdict::ParentPart},
                      NameCase{L"a/..\\x", EntryNameVerdict::ParentPart},
                      NameCase{L"a/.. /x", EntryNameVerdict::ParentPart},
                      NameCase{L"a/. ./x", EntryNameVerdict::ParentPart},
                      NameCase{L"a/.../x", EntryNameVerdict::ParentPart},
                      NameCase{L"CON", EntryNameVerdict::ReservedDevice},
                      NameCase{L"a/aux.dat", EntryNameVerdict::ReservedDevice},
                      NameCase{L"nul", EntryNameVerdict::ReservedDevice},
                      NameCase{L"Com1.txt", EntryNameVerdict::ReservedDevice},
                      NameCase{L"lpt9/x", EntryNameVerdict::ReservedDevice},
                      NameCase{L"con .txt", EntryNameVerdict::ReservedDevice},
                      NameCase{L"COM\u00B9", EntryNameVerdict::ReservedDevice},
                      NameCase{L"data/com\u00B2.txt", EntryNameVerdict::ReservedDevice},
                      NameCase{L"LPT\u00B3/x", EntryNameVerdict::ReservedDevice},
                      NameCase{L"lpt\u00B9.log", EntryNameVerdict::ReservedDevice},
                      NameCase{L"COM0", EntryNameVerdict::ReservedDevice},
                      NameCase{L"COM\u2074", EntryNameVerdict::Accepted},  // superscript four is no device
                      NameCase{L"COM10", EntryNameVerdict::Accepted}));

TEST(EntryName, ADirectoryEntryEndsWithAForwardSlash)
{
    EXPECT_TRUE(core::IsDirectoryEntryName(L"a/"));
    EXPECT_TRUE(core::IsDirectoryEntryName(L"a/b/"));
    EXPECT_FALSE(core::IsDirectoryEntryName(L"a"));
    EXPECT_FALSE(core::IsDirectoryEntryName(L"a/b"));
    EXPECT_FALSE(core::IsDirectoryEntryName(L"a\\"));
    EXPECT_FALSE(core::IsDirectoryEntryName(L""));
}

std::string EndRecord(const std::string& comment, int entries = 0)
{
    std::string r("PK\x05\x06", 4);
    r += std::string(4, '\0');
    r += static_cast<char>(entries);
    r += '\0';
    r += static_cast<char>(entries);
    r += '\0';
    r += std::string(8, '\0');
    r += static_cast<char>(comment.size() & 0xFF);
    r += static_cast<char>(comment.size() >> 8);
    return r + comment;
}

// Names Windows takes for one file share a key; names it keeps apart do not.
TEST(WindowsNameKey, NamesWindowsTakesForOneFileShareAKey)
{
    struct Pair {
        const wchar_t* a;
        const wchar_t* b;
        bool same;
    };
    const Pair pairs[] = {
        {L"data/a.bin", L"DATA/A.BIN", true},
        {L"data/a.bin", L"data\\a.bin", true},
        {L"a.bin", L"a.bin.", true},
        {L"a.bin", L"a.bin . .  ", true},
        {L"data./a.bin", L"data/a.bin", true},
        {L"data /a.bin", L"data/a.bin", true},
        {L"a//b", L"a/b", true},
        {L"./a", L"a", true},
        {L"dir/", L"dir", true},
        {L"\u00e9t\u00e9\u00ff", L"\u00c9T\u00c9\u0178", true},  // Latin-1
        {L"\u0101\u013a\u017e", L"\u0100\u0139\u017d", true},    // Latin Extended-A, both runs
        {L"\u03b1\u03c9\u03c2", L"\u0391\u03a9\u03a3", true},    // Greek, final sigma
        {L"\u0434\u0451", L"\u0414\u0401", true},                  // Cyrillic
        {L"\uff41", L"\uff21", true},                                // fullwidth Latin
        {L"a.bin", L"a.bi", false},
        {L"a/b", L"ab", false},
        {L".a", L"a", false},
        {L"a b", L"ab", false},
        {L"a.b", L"ab", false},
        {L"\u00f7", L"\u00d7", false},  // division and multiplication signs are not letters
        {L"\u0131", L"i", false},        // dotless i
        {L"\u8d44\u6e90", L"\u8d44\u6599", false},
    };
    for (const Pair& p : pairs)
        EXPECT_EQ(core::WindowsNameKey(p.a) == core::WindowsNameKey(p.b), p.same)
            << core::WideToUtf8(p.a) << " / " << core::WideToUtf8(p.b);

    EXPECT_EQ(core::WindowsNameKey(L"Data\\Sub./File.TXT "), L"DATA/SUB/FILE.TXT");
    EXPECT_EQ(core::WindowsNameKey(L"."), L"");
}

TEST(EmptyArchive, IsTheEndRecordAloneWithItsComment)
{
    EXPECT_TRUE(core::IsEmptyZipArchive(EndRecord("")));
    EXPECT_TRUE(core::IsEmptyZipArchive(EndRecord("built by the channel")));
    EXPECT_TRUE(core::IsEmptyZipArchive(EndRecord(std::string(300, 'c'))));
}

TEST(EmptyArchive, AnythingElseIsNot)
{
    EXPECT_FALSE(core::IsEmptyZipArchive(""));
    EXPECT_FALSE(core::IsEmptyZipArchive(EndRecord("").substr(0, 21)));
    EXPECT_FALSE(core::IsEmptyZipArchive(EndRecord("", 1)));
    EXPECT_FALSE(core::IsEmptyZipArchive(EndRecord("abc") + "x"));
    EXPECT_FALSE(core::IsEmptyZipArchive(EndRecord("abc").substr(0, 24)));
    EXPECT_FALSE(core::IsEmptyZipArchive("PK\x03\x04" + EndRecord("").substr(4)));
    EXPECT_FALSE(core::IsEmptyZipArchive("junk" + EndRecord("")));
}

}  // namespace
