#include "core/browser/browser_emulation.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

struct MajorCase {
    std::wstring text;
    int major;
};

class BrowserMajorVersion : public ::testing::TestWithParam<MajorCase> {};

TEST_P(BrowserMajorVersion, FromTheVersionText)
{
    EXPECT_EQ(core::BrowserMajorVersion(GetParam().text), GetParam().major) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Table, BrowserMajorVersion,
                         ::testing::Values(MajorCase{L"11.0.9600.17843", 11}, MajorCase{L"9.11.9600.17843", 9},
                                           MajorCase{L"8.0.6001.18702", 8}, MajorCase{L"11", 11},
                                           MajorCase{L".5", 0}, MajorCase{L"abc", 0}, MajorCase{L"7a.1", 7},
                                           MajorCase{L"-3.2", -3}, MajorCase{L"99999999999.1", INT_MAX}));

struct EmulationCase {
    std::vector<std::wstring> versions;  // svcVersion, svcUpdateVersion, Version, W2kVersion
    std::uint32_t number;
};

class EmulationNumberFromVersions : public ::testing::TestWithParam<EmulationCase> {};

TEST_P(EmulationNumberFromVersions, Table)
{
    EXPECT_EQ(core::EmulationNumber(core::HighestBrowserMajorVersion(GetParam().versions)), GetParam().number);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EmulationNumberFromVersions,
    ::testing::Values(EmulationCase{{L"11.0.9600.17843", L"", L"9.11.9600.17843", L""}, 11001},
                      EmulationCase{{L"", L"", L"8.0.6001.18702", L""}, 8888},
                      EmulationCase{{L"", L"", L"9.0.8112.16421", L""}, 9999},
                      EmulationCase{{L"", L"", L"10.0.9200.16384", L""}, 10001},
                      EmulationCase{{L"", L"", L"", L""}, 7000}, EmulationCase{{}, 7000},
                      EmulationCase{{L".5", L"", L"", L""}, 7000},
                      EmulationCase{{L"", L"", L"6.0.2900.2180", L""}, 7000},
                      EmulationCase{{L"", L"", L"7.0.6000.16386", L"8.0"}, 8888}));

TEST(EmulationNumber, SaturatesInsteadOfOverflowing)
{
    EXPECT_EQ(core::EmulationNumber(INT_MAX), UINT32_MAX);
    EXPECT_EQ(core::EmulationNumber(-5), 7000u);
}

TEST(BrowserEmulationKeys, Wow64UsesTheWow6432NodeKeys)
{
    EXPECT_EQ(core::BrowserVersionKeyPath(false), L"SOFTWARE\\Microsoft\\Internet Explorer");
    EXPECT_EQ(core::BrowserVersionKeyPath(true), L"SOFTWARE\\Wow6432Node\\Microsoft\\Internet Explorer");
    EXPECT_EQ(core::BrowserEmulationKeyPath(false),
              L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION");
    EXPECT_EQ(core::BrowserEmulationKeyPath(true),
              L"Software\\Wow6432Node\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION");
}

TEST(BrowserEmulationKeys, CurrentUserOn64BitWindowsAlsoGetsThePlainKey)
{
    const std::wstring plain = core::BrowserEmulationKeyPath(false);
    const std::wstring wow = core::BrowserEmulationKeyPath(true);
    EXPECT_EQ(core::BrowserEmulationKeyPaths(false, false), std::vector<std::wstring>{plain});
    EXPECT_EQ(core::BrowserEmulationKeyPaths(false, true), std::vector<std::wstring>{plain});
    EXPECT_EQ(core::BrowserEmulationKeyPaths(true, false), std::vector<std::wstring>{wow});
    EXPECT_EQ(core::BrowserEmulationKeyPaths(true, true), (std::vector<std::wstring>{wow, plain}));
}

}  // namespace
