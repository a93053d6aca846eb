#include <gtest/gtest.h>

#include "core/browser/accelerator_rule.h"
#include "core/browser/entry_url.h"

namespace {

struct UrlCase {
    const wchar_t* url;
    const wchar_t* query;
    const wchar_t* expected;
};

class EntryUrl : public ::testing::TestWithParam<UrlCase> {};

TEST_P(EntryUrl, QueryJoinsWithQuestionMarkOrAmpersand)
{
    EXPECT_EQ(core::EntryUrlWithQuery(GetParam().url, GetParam().query), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EntryUrl,
    ::testing::Values(UrlCase{L"http://h/entry.html", L"a=1&b=2", L"http://h/entry.html?a=1&b=2"},
                      UrlCase{L"http://h/entry.html?x=9", L"a=1&b=2", L"http://h/entry.html?x=9&a=1&b=2"},
                      UrlCase{L"http://h/entry.html?", L"a=1", L"http://h/entry.html?&a=1"},
                      UrlCase{L"http://h/entry.html", L"", L"http://h/entry.html"},
                      UrlCase{L"http://h/entry.html?x=9", L"", L"http://h/entry.html?x=9"},
                      UrlCase{L"", L"a=1", L"?a=1"},
                      // Appended as it is: no further encoding.
                      UrlCase{L"http://h/e", L"fileparam=X7&token=a b%&c=é", L"http://h/e?fileparam=X7&token=a b%&c=é"}));

struct KeyCase {
    core::AcceleratorKeys keys;
    bool blocked;
    const char* what;
};

class Accelerators : public ::testing::TestWithParam<KeyCase> {};

TEST_P(Accelerators, RefreshOpenPrintAndNewWindowAreBlocked)
{
    EXPECT_EQ(core::IsBlockedAccelerator(GetParam().keys), GetParam().blocked) << GetParam().what;
}

core::AcceleratorKeys Keys(bool keyDown, bool f5, bool ctrl, bool o, bool p, bool n)
{
    return core::AcceleratorKeys{keyDown, f5, ctrl, o, p, n};
}

INSTANTIATE_TEST_SUITE_P(
    Table, Accelerators,
    ::testing::Values(KeyCase{Keys(true, true, false, false, false, false), true, "F5"},
                      KeyCase{Keys(true, true, true, false, false, false), true, "Ctrl+F5"},
                      KeyCase{Keys(true, false, true, true, false, false), true, "Ctrl+O"},
                      KeyCase{Keys(true, false, true, false, true, false), true, "Ctrl+P"},
                      KeyCase{Keys(true, false, true, false, false, true), true, "Ctrl+N"},
                      KeyCase{Keys(true, false, false, false, false, true), false, "N alone (typing)"},
                      KeyCase{Keys(true, false, false, true, true, true), false, "O, P and N without Ctrl"},
                      KeyCase{Keys(true, false, true, false, false, false), false, "Ctrl alone"},
                      KeyCase{Keys(true, false, false, false, false, false), false, "another key"},
                      KeyCase{Keys(false, true, true, true, true, true), false, "not a key-down message"}));

}  // namespace
