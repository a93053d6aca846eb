#include "core/update/client_version.h"

#include <gtest/gtest.h>

#include "tests/unit/version_literal.h"

#include <limits>

namespace {

using core::LocalClientVersion;

using testing_support::V;

struct ParseCase {
    const wchar_t* text;
    LocalClientVersion expected;
};

class VersionParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(VersionParse, FollowsTheCLibraryConversion)
{
    const LocalClientVersion v = core::ParseClientVersion(GetParam().text);
    EXPECT_EQ(v.parts, GetParam().expected.parts);
}

INSTANTIATE_TEST_SUITE_P(
    Table, VersionParse,
    ::testing::Values(ParseCase{L"1.0.3.7", V(1, 0, 3, 7)}, ParseCase{L"1.2", V(1, 2, 0, 0)},
                      ParseCase{L"1.2.3.4.5", V(1, 2, 3, 4)}, ParseCase{L"", V(0, 0, 0, 0)},
                      ParseCase{L"1.0.3.7\n", V(1, 0, 3, 7)}, ParseCase{L"1.0.3.7\r", V(1, 0, 3, 7)},
                      ParseCase{L" 7.1", V(7, 1, 0, 0)}, ParseCase{L"v7.1", V(0, 1, 0, 0)},
                      ParseCase{L"1.-2.0.0", V(1, -2, 0, 0)}, ParseCase{L"+3.\t4x.5", V(3, 4, 5, 0)},
                      ParseCase{L"..9", V(0, 0, 9, 0)},
                      ParseCase{L"99999999999.1", V(std::numeric_limits<int>::max(), 1, 0, 0)},
                      ParseCase{L"-99999999999", V(std::numeric_limits<int>::min(), 0, 0, 0)}));

TEST(VersionOrder, ComparesComponentsAsSignedNumbers)
{
    EXPECT_LT(V(1, 9, 0, 0), V(1, 10, 0, 0));
    EXPECT_LT(V(1, -2, 0, 0), V(1, 0, 0, 0));
    EXPECT_LT(V(0, 0, 0, 0), V(0, 0, 0, 1));
    EXPECT_FALSE(V(2, 0, 0, 0) < V(1, 9, 9, 9));
    EXPECT_EQ(V(1, 2, 3, 4), core::ParseClientVersion(L"1.2.3.4"));
    EXPECT_NE(V(1, 2, 3, 4), V(1, 2, 3, 5));
}

TEST(VersionText, FormatsWithSigns)
{
    EXPECT_EQ(core::FormatClientVersion(V(1, -2, 0, 30)), L"1.-2.0.30");
    EXPECT_EQ(core::FormatClientVersion(LocalClientVersion{}), L"0.0.0.0");
}

TEST(LeadingInteger, ConvertsLikeTheCLibraryForBytes)
{
    const auto min = std::numeric_limits<std::int64_t>::min();
    const auto max = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(core::ParseLeadingInteger(std::string("  -5x"), min, max), -5);
    EXPECT_EQ(core::ParseLeadingInteger(std::string("abc"), min, max), 0);
    EXPECT_EQ(core::ParseLeadingInteger(std::string("3000000000"), min, max), 3000000000LL);
    EXPECT_EQ(core::ParseLeadingInteger(std::string("9223372036854775807"), min, max), max);
    EXPECT_EQ(core::ParseLeadingInteger(std::string("9223372036854775808"), min, max), max);
    EXPECT_EQ(core::ParseLeadingInteger(std::string("-9223372036854775808"), min, max), min);
    EXPECT_EQ(core::ParseLeadingInteger(std::string("-99999999999999999999"), min, max), min);
}

}  // namespace
