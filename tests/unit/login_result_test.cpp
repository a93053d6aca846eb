#include "core/launch/login_result.h"

#include <gtest/gtest.h>

namespace {

using Kind = core::LoginResult::Kind;

struct LoginCase {
    const wchar_t* result;
    Kind kind;
    const wchar_t* parameters;
};

class LoginResultSplit : public ::testing::TestWithParam<LoginCase> {};

TEST_P(LoginResultSplit, KindAndParameters)
{
    const LoginCase& c = GetParam();
    const core::LoginResult parsed = core::ParseLoginResult(c.result);
    EXPECT_EQ(parsed.kind, c.kind) << testing::PrintToString(std::wstring(c.result));
    EXPECT_EQ(parsed.parameters, c.parameters) << testing::PrintToString(std::wstring(c.result));
}

INSTANTIATE_TEST_SUITE_P(
    Table, LoginResultSplit,
    ::testing::Values(LoginCase{L"", Kind::Empty, L""},
                      LoginCase{L"true|abc", Kind::Accepted, L"abc"},
                      LoginCase{L"TRUE|abc", Kind::Accepted, L"abc"},
                      LoginCase{L"tRuE|abc", Kind::Accepted, L"abc"},
                      LoginCase{L"true|a|b", Kind::Accepted, L"a"},       // the third field is dropped
                      LoginCase{L"true|", Kind::Accepted, L""},           // accepted, no parameters
                      LoginCase{L"true||x", Kind::Accepted, L""},
                      LoginCase{L"true|玩家 1", Kind::Accepted, L"玩家 1"},
                      LoginCase{L"false|x", Kind::Rejected, L""},
                      LoginCase{L"|x", Kind::Rejected, L""},
                      LoginCase{L" true|x", Kind::Rejected, L""},          // no trimming
                      LoginCase{L"truee|x", Kind::Rejected, L""},
                      LoginCase{L"tru|x", Kind::Rejected, L""},
                      LoginCase{L"|", Kind::Rejected, L""},
                      LoginCase{L"token=abc", Kind::ThirdParty, L"token=abc"},  // no bar: taken whole
                      LoginCase{L"true", Kind::ThirdParty, L"true"}));

}  // namespace
