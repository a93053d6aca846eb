#include "core/app/command_line.h"

#include <gtest/gtest.h>

namespace {

struct ArgsCase {
    const wchar_t* full;
    const wchar_t* args;
};

class CommandLineArguments : public ::testing::TestWithParam<ArgsCase> {};

TEST_P(CommandLineArguments, SkipTheProgramName)
{
    EXPECT_EQ(core::ArgumentsOfCommandLine(GetParam().full), GetParam().args);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLineArguments,
    ::testing::Values(ArgsCase{L"\"C:\\Program Files\\Vantorra.exe\" /uninstall", L"/uninstall"},
                      ArgsCase{L"Vantorra.exe   --winid=5 --token=a", L"--winid=5 --token=a"},
                      ArgsCase{L"\"C:\\a b\\x.exe\"--k=v", L"--k=v"},
                      ArgsCase{L"Vantorra.exe", L""},
                      ArgsCase{L"\"unterminated quote", L""},
                      ArgsCase{L"x.exe\t/uninstall ", L"/uninstall "},
                      ArgsCase{L"", L""}));

struct UninstallCase {
    const wchar_t* args;
    bool uninstall;
};

class UninstallWord : public ::testing::TestWithParam<UninstallCase> {};

TEST_P(UninstallWord, MatchesOnlyTheWholeWord)
{
    EXPECT_EQ(core::IsUninstallCommand(GetParam().args), GetParam().uninstall) << GetParam().args;
}

INSTANTIATE_TEST_SUITE_P(Table, UninstallWord,
                         ::testing::Values(UninstallCase{L"/uninstall", true}, UninstallCase{L"/UNINSTALL", true},
                                           UninstallCase{L"/UnInstall", true}, UninstallCase{L"/uninstall ", false},
                                           UninstallCase{L" /uninstall", false},
                                           UninstallCase{L"/uninstall now", false}, UninstallCase{L"uninstall", false},
                                           UninstallCase{L"", false}));

}  // namespace
