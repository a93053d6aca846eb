// What a launcher with channel keys asks of a verified document beyond its signature: the
// package's digest and size, a serial no older than the one accepted before, an expiry not
// passed, an https entry page.
#include <gtest/gtest.h>

#include "core/update/signed_config.h"
#include "core/text/utf8_text.h"

namespace {

const std::wstring kDigest(64, L'a');

core::RemoteConfigMap Document()
{
    return {{L"ClientVersion", L"1.0.0.1"},
            {L"EntryUrl", L"https://www.example.test/entry.html"},
            {L"ClientPackageSha256", kDigest},
            {L"ClientPackageSize", L"123456"},
            {L"ClientConfigSerial", L"1700000000"}};
}

std::wstring Problem(const core::RemoteConfigMap& config, std::int64_t now = 1800000000,
                     std::optional<std::uint64_t> accepted = std::nullopt)
{
    core::SignedConfigValues values;
    return core::SignedConfigProblem(config, now, accepted, values);
}

TEST(SignedConfig, AUsableDocumentGivesItsValues)
{
    core::RemoteConfigMap config = Document();
    config[L"ClientConfigExpires"] = L"1800000000";
    core::SignedConfigValues values;
    EXPECT_EQ(core::SignedConfigProblem(config, 1800000000, 1700000000u, values), L"");
    EXPECT_EQ(values.serial, 1700000000u);
    EXPECT_EQ(values.packageSize, 123456);
    EXPECT_EQ(values.expires, std::optional<std::int64_t>(1800000000));
    // No entry page at all is fine: there is no page to load.
    config.erase(L"EntryUrl");
    EXPECT_EQ(Problem(config, 1), L"");
}

struct ProblemCase {
    const char* what;
    std::wstring key;
    std::optional<std::wstring> value;  // none: the line is left out
    std::wstring problem;
};

class SignedConfigProblems : public ::testing::TestWithParam<ProblemCase> {};

TEST_P(SignedConfigProblems, AreNamed)
{
    core::RemoteConfigMap config = Document();
    if (GetParam().value)
        config[GetParam().key] = *GetParam().value;
    else
        config.erase(GetParam().key);
    EXPECT_EQ(Problem(config, 1800000000, 1700000000u), GetParam().problem) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SignedConfigProblems,
    ::testing::Values(
        ProblemCase{"no digest", L"ClientPackageSha256", std::nullopt,
                    L"signed configuration names no ClientPackageSha256 of 64 hex digits"},
        ProblemCase{"a digest of 63 digits", L"ClientPackageSha256", std::wstring(63, L'a'),
                    L"signed configuration names no ClientPackageSha256 of 64 hex digits"},
        ProblemCase{"no size", L"ClientPackageSize", std::nullopt, L"signed configuration names no ClientPackageSize"},
        ProblemCase{"a negative size", L"ClientPackageSize", L"-1",
                    L"signed configuration's ClientPackageSize is not a decimal number: -1"},
        ProblemCase{"a size past what a signed 64-bit number holds", L"ClientPackageSize", L"9223372036854775808",
                    L"signed configuration's ClientPackageSize is not a decimal number: 9223372036854775808"},
        ProblemCase{"no serial", L"ClientConfigSerial", std::nullopt, L"signed configuration names no ClientConfigSerial"},
        ProblemCase{"a serial with a blank", L"ClientConfigSerial", L" 1700000001",
                    L"signed configuration's ClientConfigSerial is not a decimal number:  1700000001"},
        ProblemCase{"an older serial", L"ClientConfigSerial", L"1699999999",
                    L"signed configuration has serial 1699999999, older than serial 1700000000 accepted before"},
        ProblemCase{"expired a second ago", L"ClientConfigExpires", L"1799999999",
                    L"signed configuration expired at 1799999999 (Unix time); the clock says 1800000000"},
        ProblemCase{"an expiry that is no number", L"ClientConfigExpires", L"tomorrow",
                    L"signed configuration's ClientConfigExpires is not a decimal number: tomorrow"},
        ProblemCase{"an http entry page", L"EntryUrl", L"http://www.example.test/entry.html",
                    L"signed configuration's EntryUrl is not https: http://www.example.test/entry.html"},
        ProblemCase{"an empty entry page", L"EntryUrl", L"", L"signed configuration's EntryUrl is not https: "},
        ProblemCase{"https only inside the URL", L"EntryUrl", L"http://x/?https://",
                    L"signed configuration's EntryUrl is not https: http://x/?https://"}));

TEST(SignedConfig, DecimalNumbersAndHttpsUrls)
{
    std::uint64_t value = 0;
    EXPECT_TRUE(core::ParseDecimal(L"0", 10, value));
    EXPECT_EQ(value, 0u);
    EXPECT_TRUE(core::ParseDecimal(L"18446744073709551615", UINT64_MAX, value));
    EXPECT_EQ(value, UINT64_MAX);
    for (const wchar_t* bad : {L"", L"18446744073709551616", L"11", L"1e3", L"0x10", L"+1", L"1 "})
        EXPECT_FALSE(core::ParseDecimal(bad, std::wstring(bad) == L"11" ? 10 : UINT64_MAX, value)) << core::WideToUtf8(bad);
    EXPECT_TRUE(core::IsHttpsUrl(L"https://a/"));
    EXPECT_TRUE(core::IsHttpsUrl(L"HTTPS://a/"));
    EXPECT_FALSE(core::IsHttpsUrl(L"https:/a/"));
    EXPECT_FALSE(core::IsHttpsUrl(L"http://a/"));
    EXPECT_FALSE(core::IsHttpsUrl(L" https://a/"));
}

}  // namespace
