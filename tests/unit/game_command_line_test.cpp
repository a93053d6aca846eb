#include "core/launch/game_command_line.h"

#include <gtest/gtest.h>

namespace {

TEST(GameCommandLine, FollowsTheLauncherCommandLineUnchanged)
{
    EXPECT_EQ(core::FormatGameCommandLine(L"C:\\qorn-palmet\\qorn.exe /x y", L"p", L"cp", std::nullopt),
              L"C:\\qorn-palmet\\qorn.exe /x y --parameters=p --plat_extra=cp");
    // Empty parameters leave the option bare; nothing is quoted or escaped.
    EXPECT_EQ(core::FormatGameCommandLine(L"\"C:\\a b\\l.exe\" --winid=5", L"", L"k=\"v w\"", std::nullopt),
              L"\"C:\\a b\\l.exe\" --winid=5 --parameters= --plat_extra=k=\"v w\"");
    EXPECT_EQ(core::FormatGameCommandLine(L"l.exe", L"abc", L"", std::wstring(L"D:\\lua")),
              L"l.exe --parameters=abc --plat_extra= --luapath=D:\\lua");
    EXPECT_EQ(core::FormatGameCommandLine(L"l.exe", L"abc", L"", std::wstring()),
              L"l.exe --parameters=abc --plat_extra= --luapath=");
}

TEST(GameCommandLine, TooLongForAProcessIsRefusedNotCut)
{
    const std::wstring tail = L" --parameters=p --plat_extra=c";
    const std::wstring fits(core::kMaxGameCommandLine - tail.size(), L'a');
    ASSERT_TRUE(core::FormatGameCommandLine(fits, L"p", L"c", std::nullopt));
    EXPECT_EQ(core::FormatGameCommandLine(fits, L"p", L"c", std::nullopt)->size(), core::kMaxGameCommandLine);
    EXPECT_FALSE(core::FormatGameCommandLine(fits + L"a", L"p", L"c", std::nullopt));
    EXPECT_FALSE(core::FormatGameCommandLine(L"l.exe", std::wstring(core::kMaxGameCommandLine, L'p'), L"", std::nullopt));
}

struct LuaLineCase {
    std::wstring file;
    std::wstring line;
};

class LuaPathLine : public ::testing::TestWithParam<LuaLineCase> {};

TEST_P(LuaPathLine, FirstLineAsOneTextReadGivesIt)
{
    EXPECT_EQ(core::FirstLuaPathLine(GetParam().file), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LuaPathLine,
    ::testing::Values(LuaLineCase{L"D:\\lua\n", L"D:\\lua\n"},
                      // Text mode reads CR LF as LF; the line ends there.
                      LuaLineCase{L"D:\\lua\r\nsecond\r\n", L"D:\\lua\n"},
                      // A lone CR ends no line.
                      LuaLineCase{L"D:\\lua\rsecond", L"D:\\lua\rsecond"},
                      LuaLineCase{L"D:\\lua\r", L"D:\\lua\r"},
                      LuaLineCase{L"D:\\lua", L"D:\\lua"},
                      LuaLineCase{L"", L""},
                      LuaLineCase{L"\nD:\\lua", L"\n"},
                      LuaLineCase{L"D:\\lua\x1A\n", L"D:\\lua"},
                      LuaLineCase{L"D:\\游戏 脚本\n", L"D:\\游戏 脚本\n"},
                      // 259 characters at most: a longer line loses its end and its break, and
                      // one of 258 keeps its break as the 259th.
                      LuaLineCase{std::wstring(300, L'x') + L"\n", std::wstring(core::kMaxLuaPathLine, L'x')},
                      LuaLineCase{std::wstring(core::kMaxLuaPathLine, L'x') + L"\n", std::wstring(core::kMaxLuaPathLine, L'x')},
                      LuaLineCase{std::wstring(core::kMaxLuaPathLine - 1, L'x') + L"\r\n",
                                  std::wstring(core::kMaxLuaPathLine - 1, L'x') + L"\n"}));

}  // namespace
