#include "core/diag/fingerprint_text.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

using core::AdapterRecord;

const std::array<std::uint8_t, 6> kFirst{0x00, 0x1a, 0x2B, 0xc3, 0x04, 0xFF};
const std::array<std::uint8_t, 6> kSecond{0x52, 0x54, 0x00, 0x12, 0x34, 0x56};

TEST(MacText, UpperCaseDashSeparatedBytes)
{
    EXPECT_EQ(core::FormatMacText(kFirst), L"00-1A-2B-C3-04-FF");
}

struct MacCase {
    const char* what;
    std::vector<AdapterRecord> adapters;
    std::wstring expected;
};

class MacChoice : public ::testing::TestWithParam<MacCase> {};

TEST_P(MacChoice, TakesTheFirstAdapterWithAGateway)
{
    EXPECT_EQ(core::ChooseMacText(GetParam().adapters), GetParam().expected) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, MacChoice,
    ::testing::Values(
        MacCase{"no adapters", {}, L"unkown"},
        MacCase{"only adapters without gateway", {{L"0.0.0.0", kFirst}, {L"0.0.0.0", kSecond}}, L"unkown"},
        MacCase{"an empty gateway text does not begin with 0", {{L"", kFirst}, {L"10.0.0.1", kSecond}},
                L"00-1A-2B-C3-04-FF"},
        MacCase{"earlier of two with gateways", {{L"192.168.1.1", kFirst}, {L"10.0.0.1", kSecond}},
                L"00-1A-2B-C3-04-FF"},
        MacCase{"skips the one without", {{L"0.0.0.0", kFirst}, {L"10.0.0.1", kSecond}}, L"52-54-00-12-34-56"}));

std::vector<std::uint8_t> Utf16Bytes(const std::u16string& text)
{
    std::vector<std::uint8_t> bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return bytes;
}

struct ProcessorCase {
    const char* what;
    bool readOk;
    std::uint32_t type;
    std::vector<std::uint8_t> data;
    std::wstring expected;
};

class ProcessorName : public ::testing::TestWithParam<ProcessorCase> {};

TEST_P(ProcessorName, AcceptsOnlyTerminatedStrings)
{
    const ProcessorCase& c = GetParam();
    EXPECT_EQ(core::ProcessorNameFromRegistryValue(c.readOk, c.type, c.data), c.expected) << c.what;
}

const std::u16string kBrand = u"Intel(R) Core(TM) i5 \u00ae";

INSTANTIATE_TEST_SUITE_P(
    Table, ProcessorName,
    ::testing::Values(
        ProcessorCase{"terminated string", true, core::kRegistryString, Utf16Bytes(kBrand + u'\0'),
                      L"Intel(R) Core(TM) i5 \u00ae"},
        ProcessorCase{"expandable string", true, core::kRegistryExpandString, Utf16Bytes(std::u16string(u"AMD\0", 4)), L"AMD"},
        ProcessorCase{"zero bytes", true, core::kRegistryString, {}, L""},
        ProcessorCase{"read failed", false, core::kRegistryString, Utf16Bytes(std::u16string(u"AMD\0", 4)), L""},
        ProcessorCase{"not a string type", true, 4, Utf16Bytes(std::u16string(u"AMD\0", 4)), L""},
        ProcessorCase{"not terminated", true, core::kRegistryString, Utf16Bytes(u"AMD"), L""},
        ProcessorCase{"odd byte count", true, core::kRegistryString, {'A', 0, 0}, L""},
        ProcessorCase{"embedded zero ends the text", true, core::kRegistryString, Utf16Bytes(std::u16string(u"AB\0CD\0", 6)),
                      L"AB"}));

TEST(OsVersion, TextCarriesTheNumbers)
{
    EXPECT_EQ(core::OsVersionText(10, 0, 19045), L"Version major:10 minor:0 build:19045");
}

// A system at (major, minor, service pack), compared the way a greater-or-equal version test
// on those three fields compares: most significant field first.
std::function<bool(int, int, int)> SystemAt(int major, int minor, int sp)
{
    return [=](int m, int n, int s) { return std::make_tuple(major, minor, sp) >= std::make_tuple(m, n, s); };
}

struct VersionNameCase {
    int major, minor, sp;
    const wchar_t* expected;
};

class OsVersionName : public ::testing::TestWithParam<VersionNameCase> {};

TEST_P(OsVersionName, FirstTestThatHolds)
{
    const VersionNameCase& c = GetParam();
    EXPECT_EQ(core::OsVersionNameFromTests(SystemAt(c.major, c.minor, c.sp)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, OsVersionName,
                         ::testing::Values(VersionNameCase{10, 0, 0, L"Windows10OrGreater"},
                                           VersionNameCase{6, 3, 0, L"Windows8Point1OrGreater"},
                                           VersionNameCase{6, 2, 0, L"Windows8OrGreater"},
                                           VersionNameCase{6, 1, 1, L"Windows7SP1OrGreater"},
                                           VersionNameCase{6, 1, 0, L"Windows7OrGreater"},
                                           VersionNameCase{6, 0, 2, L"VistaSP2OrGreater"},
                                           VersionNameCase{6, 0, 1, L"VistaSP1OrGreater"},
                                           VersionNameCase{6, 0, 0, L"VistaOrGreater"},
                                           VersionNameCase{5, 1, 3, L"ElderThanVista"}));

TEST(OsVersionName, NoTestHolds)
{
    EXPECT_EQ(core::OsVersionNameFromTests([](int, int, int) { return false; }), L"ElderThanVista");
}

TEST(MemoryText, WholeMegabytesRoundedDown)
{
    EXPECT_EQ(core::MemoryText(0xFFFFFFFFu, (2047u << 20) + 0xFFFFF),
              L"physical memory:4095 MB virtual memory:2047 MB");
    EXPECT_EQ(core::MemoryText(0, (1u << 20) - 1), L"physical memory:0 MB virtual memory:0 MB");
}

TEST(MemoryFigure32, SaturatesInsteadOfWrapping)
{
    // 24,104 MB would wrap to 3,624 MB if narrowed; it must read as the 4095 MB ceiling.
    EXPECT_EQ(core::MemoryFigure32(24104ull << 20), 0xFFFFFFFFu);
    EXPECT_EQ(core::MemoryFigure32(0x100000000ull), 0xFFFFFFFFu);
    EXPECT_EQ(core::MemoryFigure32(0xFFFFFFFFull), 0xFFFFFFFFu);
    EXPECT_EQ(core::MemoryFigure32(2048ull << 20), 2048u << 20);
    EXPECT_EQ(core::MemoryFigure32(0), 0u);
}

TEST(OsDescription, RunsTheThreeTextsTogether)
{
    EXPECT_EQ(core::OsDescription(L"Version major:6 minor:1 build:7601", L"AMD Ryzen",
                                  L"physical memory:2048 MB virtual memory:2047 MB"),
              L"Version major:6 minor:1 build:7601AMD Ryzenphysical memory:2048 MB virtual memory:2047 MB");
    // A missing processor name leaves the version text running straight into the memory text.
    EXPECT_EQ(core::OsDescription(L"unkown", L"", L"physical memory:1 MB virtual memory:2 MB"),
              L"unkownphysical memory:1 MB virtual memory:2 MB");
}

TEST(HexDigest, LowerCaseTwoDigitsPerByte)
{
    const std::vector<std::uint8_t> digest{0xda, 0x39, 0xa3, 0xee, 0x5e, 0x6b, 0x4b, 0x0d, 0x32, 0x55,
                                           0xbf, 0xef, 0x95, 0x60, 0x18, 0x90, 0xaf, 0xd8, 0x07, 0x09};
    EXPECT_EQ(core::HexDigest(digest), L"da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(core::HexDigest({0x00, 0x0F, 0xA0}), L"000fa0");
    EXPECT_EQ(core::HexDigest({}), L"");
}

}  // namespace
