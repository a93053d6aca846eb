#include <windows.h>

#include <gtest/gtest.h>

#include "fw/win_handle.h"
#include "update/game_remote_config.h"

namespace {

const wchar_t kKey[] = L"Software\\LauncherTests\\QueryRegistryKey";

class RegistryQuery : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, m_key.put(),
                                  nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override
    {
        m_key.reset();
        RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
    }
    void SetString(const wchar_t* name, const std::wstring& value)
    {
        RegSetValueExW(m_key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    fw::UniqueRegKey m_key;
};

TEST_F(RegistryQuery, ReadsAStringValue)
{
    SetString(L"InstallPath", L"E:\\Games\\游戏");
    EXPECT_EQ(CGameRemoteConfig::QueryRegistryKey(HKEY_CURRENT_USER, kKey, L"InstallPath"), L"E:\\Games\\游戏");
}

TEST_F(RegistryQuery, MissingKeyOrValueGivesEmpty)
{
    EXPECT_EQ(CGameRemoteConfig::QueryRegistryKey(HKEY_CURRENT_USER, L"Software\\LauncherTests\\NoSuchKey", L"X"),
              L"");
    EXPECT_EQ(CGameRemoteConfig::QueryRegistryKey(HKEY_CURRENT_USER, kKey, L"NoSuchValue"), L"");
}

TEST_F(RegistryQuery, NonStringValueGivesEmpty)
{
    const DWORD number = 0x41414141;
    RegSetValueExW(m_key.get(), L"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    EXPECT_EQ(CGameRemoteConfig::QueryRegistryKey(HKEY_CURRENT_USER, kKey, L"Number"), L"");
}

TEST_F(RegistryQuery, ValueLongerThanTheBufferGivesEmpty)
{
    // 2048 bytes hold 1023 characters and the terminator; a longer value does not fit and is
    // reported as a failed read rather than returned cut or unterminated.
    SetString(L"Long", std::wstring(1023, L'x'));
    EXPECT_EQ(CGameRemoteConfig::QueryRegistryKey(HKEY_CURRENT_USER, kKey, L"Long"), std::wstring(1023, L'x'));
    SetString(L"Long", std::wstring(3000, L'y'));
    EXPECT_EQ(CGameRemoteConfig::QueryRegistryKey(HKEY_CURRENT_USER, kKey, L"Long"), L"");
}

}  // namespace
