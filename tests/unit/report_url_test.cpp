#include "core/diag/report_url.h"

#include <gtest/gtest.h>

#include <string>

#include "core/text/utf8_text.h"

namespace {

const core::ReportFingerprint kFingerprint{L"da39a3ee5e6b4b0d3255bfef95601890afd80709", L"palmet",
                                           L"52-54-00-12-34-56", L"Version major:6 minor:1 build:7601"};
const std::wstring kInfo = L"http://127.0.0.1:47631/api/laucher_info.php";
const std::wstring kError = L"http://127.0.0.1:47631/api/laucher_error.php";
const std::wstring kCommon = L"?client_uid=da39a3ee5e6b4b0d3255bfef95601890afd80709&ditch_name=palmet"
                             L"&mac=52-54-00-12-34-56&os_version=Version%20major:6%20minor:1%20build:7601";

struct EventCase {
    int code;
    const wchar_t* part;
};

class EventReport : public ::testing::TestWithParam<EventCase> {};

TEST_P(EventReport, CommonParametersThenTheEvent)
{
    EXPECT_EQ(core::EventReportUrl(kInfo, kFingerprint, GetParam().code), kInfo + kCommon + GetParam().part);
}

INSTANTIATE_TEST_SUITE_P(Table, EventReport,
                         ::testing::Values(EventCase{1, L"&ac=create"}, EventCase{2, L"&ac=download_start"},
                                           EventCase{3, L"&ac=unzip_start"}, EventCase{9, L"&ac=game_start"},
                                           EventCase{6, L""}, EventCase{0, L""}, EventCase{-1, L""}));

TEST(MessageReport, EscapedMessageAfterTheCommonParameters)
{
    EXPECT_EQ(core::MessageReportUrl(kError, kFingerprint, L"launcher start"),
              kError + kCommon + L"&error_msg=launcher%20start");
}

TEST(MessageReport, UnknownFingerprintIsSentAsItStands)
{
    const core::ReportFingerprint failed{L"unkown", L"palmet", L"unkown", L"unkownphysical memory:1 MB virtual memory:2 MB"};
    EXPECT_EQ(core::MessageReportUrl(kError, failed, L"x"),
              kError + L"?client_uid=unkown&ditch_name=palmet&mac=unkown"
                       L"&os_version=unkownphysical%20memory:1%20MB%20virtual%20memory:2%20MB&error_msg=x");
}

struct EscapeCase {
    const char* what;
    std::wstring text;
    std::wstring escaped;
};

class QueryValueEscape : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(QueryValueEscape, Escapes)
{
    EXPECT_EQ(core::EscapeQueryValue(GetParam().text, 2083), GetParam().escaped) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, QueryValueEscape,
    ::testing::Values(
        EscapeCase{"plain", L"abcXYZ019-_.~", L"abcXYZ019-_.~"},
        EscapeCase{"query and path delimiters", L"a b?c/d#e", L"a%20b%3Fc%2Fd%23e"},
        EscapeCase{"characters that would split the query", L"k=v&x+y;z", L"k%3Dv%26x%2By%3Bz"},
        EscapeCase{"percent itself", L"100%41", L"100%2541"},
        EscapeCase{"kept readable", L"Intel(R):x@y,z!*'", L"Intel(R):x@y,z!*'"},
        EscapeCase{"control and quote characters", L"\"<>\\\r\n\t", L"%22%3C%3E%5C%0D%0A%09"},
        EscapeCase{"Chinese as UTF-8", L"创建数据目录失败", L"%E5%88%9B%E5%BB%BA%E6%95%B0%E6%8D%AE%E7%9B%AE%E5%BD%95%E5%A4%B1%E8%B4%A5"},
        EscapeCase{"Latin-1 as UTF-8", L"caf\u00e9", L"caf%C3%A9"},
        EscapeCase{"pair of surrogates", std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)},
                   L"%F0%9F%98%80"},
        EscapeCase{"lone surrogate", std::wstring{L'a', static_cast<wchar_t>(0xD800), L'b'}, L"a%EF%BF%BDb"},
        EscapeCase{"empty", L"", L""}));

// What the server decodes from an escaped value is the text's UTF-8 as the rest of the
// launcher writes it, also for code units that are no character (a processor name in the
// registry may hold a lone surrogate).
std::string Unescape(const std::wstring& escaped)
{
    std::string bytes;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] == L'%' && i + 2 < escaped.size()) {
            bytes += static_cast<char>(std::stoi(core::WideToUtf8(escaped.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            bytes += static_cast<char>(escaped[i]);
        }
    }
    return bytes;
}

class EscapedBytes : public ::testing::TestWithParam<std::wstring> {};

TEST_P(EscapedBytes, AreTheTextsUtf8)
{
    EXPECT_EQ(Unescape(core::EscapeQueryValue(GetParam(), 2083)), core::WideToUtf8(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(
    Table, EscapedBytes,
    ::testing::Values(std::wstring(L"Intel(R) Core(TM) @ 2.40GHz"), std::wstring(L"\u521b\u5efa a&b=c"),
                      std::wstring{L'C', static_cast<wchar_t>(0xDF43), L'R'},
                      std::wstring{static_cast<wchar_t>(0xD800)},
                      std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)},
                      std::wstring{L'x', static_cast<wchar_t>(0x110000)}));

TEST(QueryValueEscape, CutsOnlyBetweenWholeCharacters)
{
    // "a" then a three-byte character (9 escaped characters) then "b".
    EXPECT_EQ(core::EscapeQueryValue(L"a\u4E2Db", 10), L"a%E4%B8%AD");
    EXPECT_EQ(core::EscapeQueryValue(L"a\u4E2Db", 9), L"a");
    EXPECT_EQ(core::EscapeQueryValue(L"a b", 3), L"a");
    EXPECT_EQ(core::EscapeQueryValue(L"a b", 4), L"a%20");
    EXPECT_EQ(core::EscapeQueryValue(L"abc", 0), L"");
}

TEST(MessageReport, LongMessageKeepsTheUrlWithinTheLimitAndDecodesToAPrefix)
{
    const std::wstring message(3000, L'\u4E2D');  // escapes to 9 characters each
    const std::wstring url = core::MessageReportUrl(kError, kFingerprint, message);
    EXPECT_LE(url.size(), core::kMaxReportUrlChars);
    EXPECT_GT(url.size(), core::kMaxReportUrlChars - 9);
    const std::wstring head = kError + kCommon + L"&error_msg=";
    ASSERT_EQ(url.compare(0, head.size(), head), 0);
    const std::wstring value = url.substr(head.size());
    ASSERT_EQ(value.size() % 9, 0u);
    for (std::size_t i = 0; i < value.size(); i += 9) EXPECT_EQ(value.substr(i, 9), L"%E4%B8%AD") << i;
}

TEST(MessageReport, HugeOsDescriptionLeavesRoomForTheMessage)
{
    core::ReportFingerprint fp = kFingerprint;
    fp.osDescription = std::wstring(5000, L' ');
    const std::wstring url = core::MessageReportUrl(kError, fp, L"game start failed");
    EXPECT_LE(url.size(), core::kMaxReportUrlChars);
    const std::wstring tail = L"&error_msg=game%20start%20failed";
    ASSERT_GE(url.size(), tail.size());
    EXPECT_EQ(url.substr(url.size() - tail.size()), tail);
    EXPECT_NE(url.find(L"&os_version=%20%20"), std::wstring::npos);

    const std::wstring eventUrl = core::EventReportUrl(kInfo, fp, 1);
    EXPECT_LE(eventUrl.size(), core::kMaxReportUrlChars);
    EXPECT_EQ(eventUrl.substr(eventUrl.size() - 10), L"&ac=create");
}

}  // namespace
