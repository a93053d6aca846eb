#include "core/update/remote_config.h"

#include <gtest/gtest.h>

namespace {

using core::RemoteConfigMap;

RemoteConfigMap Parse(const std::wstring& text)
{
    RemoteConfigMap m;
    core::ParseRemoteConfig(text, m);
    return m;
}

TEST(RemoteConfigParse, ReadsKeyValueLinesSplitAtLf)
{
    const RemoteConfigMap m = Parse(L"ClientVersion=1.0.3.7\nEntryUrl=http://h/e?a=1&b=2\r\nCustomParameters= x \n");
    EXPECT_EQ(m.at(L"ClientVersion"), L"1.0.3.7");
    // Everything after the first "=" is the value, but not the CR of a CR LF line end.
    EXPECT_EQ(m.at(L"EntryUrl"), L"http://h/e?a=1&b=2");
    // Nothing is trimmed.
    EXPECT_EQ(m.at(L"CustomParameters"), L" x ");
    // The text ends with LF: the empty last line is stored under the key "".
    EXPECT_EQ(m.at(L""), L"");
    EXPECT_EQ(m.size(), 4u);
}

TEST(RemoteConfigParse, OnlyOneCarriageReturnAtTheLineEndIsDropped)
{
    const RemoteConfigMap m = Parse(L"ClientDownloadUrl=http://h/q.zip\r\nA=x\ry\r\r\nB=\r\nLast=v\r");
    EXPECT_EQ(m.at(L"ClientDownloadUrl"), L"http://h/q.zip");
    EXPECT_EQ(m.at(L"A"), L"x\ry\r");  // a CR inside the value, or a second one, stays
    EXPECT_EQ(m.at(L"B"), L"");
    EXPECT_EQ(m.at(L"Last"), L"v");     // the last line has no LF
}

TEST(RemoteConfigParse, FirstOccurrenceWinsAlsoForLinesWithoutEquals)
{
    const RemoteConfigMap m = Parse(L"ClientVersion=1.0.3.7\nno equals here\nClientVersion=1.0.4.0\n\nsecond plain");
    EXPECT_EQ(m.at(L"ClientVersion"), L"1.0.3.7");
    EXPECT_EQ(m.at(L""), L"no equals here");
}

TEST(RemoteConfigParse, EmptyBodyHoldsOneEmptyPair)
{
    const RemoteConfigMap m = Parse(L"");
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m.at(L""), L"");
}

TEST(RemoteConfigParse, KeysAreCaseSensitiveAndKeepBlanks)
{
    const RemoteConfigMap m = Parse(L"entryurl=http://a\n EntryUrl=http://b");
    EXPECT_EQ(core::GetEntryUrl(m), L"");
    EXPECT_EQ(m.at(L" EntryUrl"), L"http://b");
    EXPECT_EQ(core::GetCustomParameters(m), L"");
}

TEST(RemoteConfigParse, ASecondParseOnlyAddsMissingKeys)
{
    RemoteConfigMap m;
    core::ParseRemoteConfig(L"A=1", m);
    core::ParseRemoteConfig(L"A=2\nB=3", m);
    EXPECT_EQ(m.at(L"A"), L"1");
    EXPECT_EQ(m.at(L"B"), L"3");
}

TEST(RemoteConfig, ReplaceAllReplacesEveryOccurrence)
{
    EXPECT_EQ(core::ReplaceAll(L"/{ditch_name}/{version}/{ditch_name}.zip", L"{ditch_name}", L"palmet"),
              L"/palmet/{version}/palmet.zip");
    // A replacement containing the pattern is not expanded again.
    EXPECT_EQ(core::ReplaceAll(L"{v}{v}", L"{v}", L"{v}x"), L"{v}x{v}x");
    EXPECT_EQ(core::ReplaceAll(L"abc", L"", L"z"), L"abc");
}

}  // namespace
