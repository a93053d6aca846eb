#include "core/http/http_request_rules.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(HttpVerb, TextOfEachVerb)
{
    const std::pair<int, std::wstring> cases[] = {{0, L"GET"},    {1, L"POST"}, {2, L"POST"},
                                                  {3, L"DELETE"}, {7, L"GET"},  {-1, L"GET"}};
    for (const auto& c : cases) EXPECT_EQ(core::HttpVerbText(c.first), c.second) << c.first;
}

TEST(HttpHeaderLines, RangeLineFollowsTheExtraHeaders)
{
    EXPECT_EQ(core::HttpRequestHeaderLines(L"X-A: 1\r\n", 1000), L"X-A: 1\r\nRange: bytes=1000-\r\n");
    EXPECT_EQ(core::HttpRequestHeaderLines(L"", 2147483647), L"Range: bytes=2147483647-\r\n");
    EXPECT_EQ(core::HttpRequestHeaderLines(L"X-A: 1\r\n", 0), L"X-A: 1\r\n");
    EXPECT_EQ(core::HttpRequestHeaderLines(L"", -5), L"");
}

TEST(HeaderNumber, DecimalFromHeaderText)
{
    const std::pair<std::wstring, int> cases[] = {{L"200", 200},          {L"3145728", 3145728}, {L"", 0},
                                                  {L"abc", 0},            {L" 404", 404},        {L"12x", 12},
                                                  {L"99999999999", INT_MAX}};
    for (const auto& c : cases) EXPECT_EQ(core::ParseHeaderNumber(c.first), c.second) << c.first.size();
}

}  // namespace
