#include "core/text/utf8_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring Units(std::initializer_list<unsigned long> units)
{
    std::wstring text;
    for (unsigned long u : units) text += static_cast<wchar_t>(u);
    return text;
}

struct WideCase {
    const char* what;
    std::wstring text;
    std::string utf8;
};

void PrintTo(const WideCase& c, std::ostream* os) { *os << c.what; }

class WideToUtf8 : public ::testing::TestWithParam<WideCase> {};

TEST_P(WideToUtf8, WritesWellFormedUtf8)
{
    EXPECT_EQ(core::WideToUtf8(GetParam().text), GetParam().utf8);
}

// A code unit that is no character is written as U+FFFD (EF BF BD), never as the three bytes
// of a surrogate or as bytes no UTF-8 reader accepts: the report escaping and the host's
// conversion must agree on the bytes of every text.
INSTANTIATE_TEST_SUITE_P(
    Table, WideToUtf8,
    ::testing::Values(WideCase{"ascii", L"a=b c", "a=b c"},
                      WideCase{"two and three bytes", L"caf\u00e9 \u4e2d", "caf\xC3\xA9 \xE4\xB8\xAD"},
                      WideCase{"a surrogate pair is one character", Units({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80"},
                      WideCase{"lone low surrogate", Units({'a', 0xDF43, 'b'}), "a\xEF\xBF\xBD" "b"},
                      WideCase{"lone high surrogate before a letter", Units({0xD800, 'b'}), "\xEF\xBF\xBD" "b"},
                      WideCase{"lone high surrogate at the end", Units({'a', 0xDBFF}), "a\xEF\xBF\xBD"},
                      WideCase{"low before high", Units({0xDC00, 0xD800}), "\xEF\xBF\xBD\xEF\xBF\xBD"},
                      // Values only a 32-bit wchar_t holds.
                      WideCase{"beyond U+10FFFF", Units({0x110000}), "\xEF\xBF\xBD"},
                      WideCase{"negative wchar_t", Units({0x80000041}), "\xEF\xBF\xBD"},
                      WideCase{"last character", Units({0x10FFFF}), "\xF4\x8F\xBF\xBF"}));

TEST(Utf8ToWide, ReadsBackWhatWideToUtf8Wrote)
{
    for (const std::wstring& text : {std::wstring(L"caf\u00e9 \u4e2d"), Units({0x1F600}), Units({'a', 0xDF43})}) {
        const std::string utf8 = core::WideToUtf8(text);
        EXPECT_EQ(core::WideToUtf8(core::Utf8ToWide(utf8)), utf8);
    }
}

}  // namespace
