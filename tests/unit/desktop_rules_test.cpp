#include "core/update/desktop_rules.h"

#include <gtest/gtest.h>

namespace {

struct SizeCase {
    std::uint32_t width, height;
    bool normal;
};

class WindowSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(WindowSize, ComparesUnsigned)
{
    EXPECT_EQ(core::IsNormalWindowSize(GetParam().width, GetParam().height), GetParam().normal)
        << GetParam().width << "x" << GetParam().height;
}

INSTANTIATE_TEST_SUITE_P(Table, WindowSize,
                         ::testing::Values(SizeCase{320, 180, true}, SizeCase{10000, 10000, true},
                                           SizeCase{1920, 1080, true}, SizeCase{319, 180, false},
                                           SizeCase{320, 179, false}, SizeCase{320, 10001, false},
                                           SizeCase{10001, 600, false}, SizeCase{0xFFFFFFFFu, 600, false},
                                           SizeCase{800, 0xFFFFFFFFu, false}, SizeCase{0, 0, false}));

TEST(DesktopRules, SourceFcInAnyCaseSkipsTheDesktopLinks)
{
    for (const wchar_t* s : {L"FC", L"fc", L"Fc", L"fC"}) EXPECT_TRUE(core::SkipsDesktopShortcuts(s)) << s;
    for (const wchar_t* s : {L"", L"F", L"FCX", L" FC", L"steam"}) EXPECT_FALSE(core::SkipsDesktopShortcuts(s));
}

}  // namespace
