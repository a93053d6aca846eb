#include "core/diag/log_line.h"

#include <gtest/gtest.h>

namespace {

std::tm MakeTm(int year, int mon, int mday, int wday, int h, int m, int s)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = mon;
    t.tm_mday = mday;
    t.tm_wday = wday;
    t.tm_hour = h;
    t.tm_min = m;
    t.tm_sec = s;
    return t;
}

TEST(LogLine, CtimeTextHasTheRuntimeForm)
{
    EXPECT_EQ(core::CtimeText(MakeTm(2024, 2, 9, 6, 17, 5, 42)), "Sat Mar 09 17:05:42 2024");
    EXPECT_EQ(core::CtimeText(MakeTm(1999, 11, 31, 5, 0, 0, 0)), "Fri Dec 31 00:00:00 1999");
}

TEST(LogLine, FormatsTheFieldsInOrder)
{
    EXPECT_EQ(core::FormatLogLine(L"Sat Mar 09 17:05:42 2024", L"INFO", L"CWebApp::InitInstance", 130,
                                  L"Laucher Start"),
              L"[Sat Mar 09 17:05:42 2024][INFO][CWebApp::InitInstance::130] Laucher Start\n");
}

TEST(LogLine, ALineBreakInTheTextIsKeptAsIs)
{
    EXPECT_EQ(core::FormatLogLine(L"T", L"ERROR", L"F::G", -1, L"a\nb"), L"[T][ERROR][F::G::-1] a\nb\n");
}

struct EncodeCase {
    std::wstring in;
    std::string out;
};

class LogEncoding : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(LogEncoding, KeepsLatin1AsBytesAndEscapesTheRest)
{
    EXPECT_EQ(core::EncodeLogText(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LogEncoding,
    ::testing::Values(EncodeCase{L"plain\n", "plain\n"},
                      EncodeCase{L"caf\u00e9 \u00ff", "caf\xe9 \xff"},
                      EncodeCase{L"C:\\\u6e38\u620f\\x", "C:\\\\u6E38\\u620F\\x"},
                      EncodeCase{L"\u0100", "\\u0100"},
                      EncodeCase{std::wstring(1, L'\0') + L"z", std::string(1, '\0') + "z"}));

TEST(LogLine, CharactersOutsideTheBmpBecomeTwoSurrogateEscapes)
{
    std::wstring in;
    if (sizeof(wchar_t) == 2) {
        in = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
    } else {
        in = {static_cast<wchar_t>(0x1F600)};
    }
    EXPECT_EQ(core::EncodeLogText(in), "\\uD83D\\uDE00");
}

}  // namespace
