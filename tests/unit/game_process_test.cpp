#include "core/app/game_process.h"

#include <gtest/gtest.h>

namespace {

const std::wstring kGameExe = L"C:\\qorn-palmet\\client\\qorn\\qorn.exe";
constexpr std::uint32_t kSelf = 42;

struct GameCase {
    const char* what;
    core::ProcessEntry entry;
    bool isGame;
};

class GameProcessRecognition : public ::testing::TestWithParam<GameCase> {};

TEST_P(GameProcessRecognition, Decides)
{
    EXPECT_EQ(core::IsGameProcess(GetParam().entry, kSelf, L"qorn.exe", kGameExe), GetParam().isGame)
        << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, GameProcessRecognition,
    ::testing::Values(
        GameCase{"the game", {7, L"qorn.exe", kGameExe, true}, true},
        GameCase{"path in other case and slashes", {7, L"qorn.exe", L"c:/QORN-palmet/client/qorn/QORN.EXE", true}, true},
        GameCase{"launcher copy in the install dir", {7, L"qorn.exe", L"C:\\qorn-palmet\\qorn.exe", true}, false},
        GameCase{"this very process", {kSelf, L"qorn.exe", kGameExe, true}, false},
        GameCase{"name differs in case", {7, L"QORN.exe", kGameExe, true}, false},
        GameCase{"bare code without extension", {7, L"qorn", kGameExe, true}, false},
        GameCase{"other program", {7, L"explorer.exe", L"C:\\windows\\explorer.exe", true}, false},
        GameCase{"path unreadable", {7, L"qorn.exe", L"", false}, true},
        GameCase{"path unreadable but it is us", {kSelf, L"qorn.exe", L"", false}, false}));

}  // namespace
