#include "core/app/platform_params.h"

#include <gtest/gtest.h>

namespace {

using Tokens = std::vector<std::string>;

TEST(PlatformParams, SplitsAtSpacesOnly)
{
    EXPECT_EQ(core::SplitParamTokens("--winid=525   --token=a\tb \"--x=1 2\""),
              (Tokens{"--winid=525", "--token=a\tb", "\"--x=1", "2\""}));
    EXPECT_TRUE(core::SplitParamTokens("").empty());
    EXPECT_TRUE(core::SplitParamTokens("   ").empty());
}

struct FindCase {
    const char* commandLine;
    const char* key;
    const char* value;
};

class ParamLookup : public ::testing::TestWithParam<FindCase> {};

TEST_P(ParamLookup, FirstMatchingKeyWins)
{
    const auto& p = GetParam();
    EXPECT_EQ(core::FindParamValue(core::SplitParamTokens(p.commandLine), p.key), p.value) << p.commandLine;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParamLookup,
    ::testing::Values(FindCase{"--winid=525 --token=abc=def --source=FC", "token", "abc=def"},
                      FindCase{"--winid=525 --token=abc=def --source=FC", "source", "FC"},
                      FindCase{"--winid=1 --winid=2", "winid", "1"},
                      FindCase{"//winid=7", "winid", "7"},  // any two prefix characters
                      FindCase{"--WinId=7", "winid", ""},   // keys compare with regard to case
                      FindCase{"--winid", "winid", ""},     // no "=": names no key
                      FindCase{"--winid --winid=9", "winid", "9"},
                      FindCase{"x --a=1", "a", "1"},        // a one-character token is skipped
                      FindCase{"--winid=", "winid", ""},
                      FindCase{"--=5", "", "5"},
                      FindCase{"a=b=c", "b", ""},  // the first "=" lies inside the prefix
                      FindCase{"", "winid", ""}));

TEST(PlatformParams, QueryStringKeepsTokensInOrderUnchanged)
{
    const Tokens tokens = core::SplitParamTokens("--winid=525 --token=abc=def --source=FC");
    const std::string fileParam = "X7";
    EXPECT_EQ(core::BuildQueryString(tokens, &fileParam), "fileparam=X7&winid=525&token=abc=def&source=FC");
    EXPECT_EQ(core::BuildQueryString(tokens, nullptr), "winid=525&token=abc=def&source=FC");
}

TEST(PlatformParams, QueryStringSkipsTokensWithoutAKey)
{
    const Tokens tokens = core::SplitParamTokens("-x=1 y --=2 --a&b=c&d --k=v --k=w --plain");
    EXPECT_EQ(core::BuildQueryString(tokens, nullptr), "a&b=c&d&k=v&k=w");
    const std::string empty;
    EXPECT_EQ(core::BuildQueryString({}, &empty), "fileparam=");
    EXPECT_EQ(core::BuildQueryString({}, nullptr), "");
}

TEST(PlatformParams, ShowWindowPayloadLayout)
{
    const std::vector<unsigned char> p = core::ShowWindowPayload();
    ASSERT_EQ(p.size(), 2056u);
    EXPECT_EQ((std::vector<unsigned char>(p.begin(), p.begin() + 5)), (std::vector<unsigned char>{1, 0, 0, 0, 0x31}));
    for (std::size_t i = 5; i < 2052; ++i) ASSERT_EQ(p[i], 0) << i;
    EXPECT_EQ((std::vector<unsigned char>(p.begin() + 2052, p.end())), (std::vector<unsigned char>{1, 0, 0, 0}));
}

}  // namespace
