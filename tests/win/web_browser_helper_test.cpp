// The browser emulation values as start-up writes them: both program names, both hives, the
// number following the installed browser's version values. The version values of the test's
// own prefix are replaced per case and restored afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "browser/web_browser_helper.h"
#include "core/browser/browser_emulation.h"
#include "diag/system_info.h"
#include "fw/win_handle.h"

namespace {

const wchar_t* const kVersionValues[] = {L"svcVersion", L"svcUpdateVersion", L"Version", L"W2kVersion"};

std::wstring VersionKey() { return core::BrowserVersionKeyPath(CSystemInfo::IsWow64()); }
std::wstring EmulationKey() { return core::BrowserEmulationKeyPath(CSystemInfo::IsWow64()); }

// The key a browser in this process reads for the current user: HKCU\Software is not
// redirected, so that is always the plain key.
const std::wstring kPlainEmulationKey = core::BrowserEmulationKeyPath(false);

bool ReadDword(HKEY root, const std::wstring& name, DWORD& value, const std::wstring& key = EmulationKey())
{
    DWORD size = sizeof value, type = 0;
    return RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_ANY, &type, &value, &size) == ERROR_SUCCESS &&
           type == REG_DWORD;
}

struct EmulationCase {
    const char* what;
    std::map<std::wstring, std::wstring> versions;
    int major;
    DWORD expected;
};

class BrowserEmulation : public ::testing::TestWithParam<EmulationCase> {
protected:
    void SetUp() override
    {
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, VersionKey().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  m_key.put(), nullptr),
                  ERROR_SUCCESS);
        for (const wchar_t* name : kVersionValues) {
            wchar_t text[1024] = {};
            DWORD size = sizeof text - sizeof(wchar_t);
            if (RegQueryValueExW(m_key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) ==
                ERROR_SUCCESS)
                m_saved[name] = text;
            RegDeleteValueW(m_key.get(), name);
        }
        for (const auto& v : GetParam().versions)
            RegSetValueExW(m_key.get(), v.first.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.second.c_str()),
                           static_cast<DWORD>((v.second.size() + 1) * sizeof(wchar_t)));
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) RegDeleteKeyW(root, EmulationKey().c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, kPlainEmulationKey.c_str());
    }
    void TearDown() override
    {
        for (const wchar_t* name : kVersionValues) RegDeleteValueW(m_key.get(), name);
        for (const auto& v : m_saved)
            RegSetValueExW(m_key.get(), v.first.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.second.c_str()),
                           static_cast<DWORD>((v.second.size() + 1) * sizeof(wchar_t)));
    }

    fw::UniqueRegKey m_key;
    std::map<std::wstring, std::wstring> m_saved;
};

TEST_P(BrowserEmulation, BothNamesInBothHivesWithTheNumberOfTheInstalledVersion)
{
    EXPECT_EQ(CWebBrowserHelper::GetBrowserVersion(), GetParam().major) << GetParam().what;
    CWebBrowserHelper::FixBrowserVersion();
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        for (const wchar_t* name : {L"win_tests.exe", L"WebBrowserTool.exe"}) {
            DWORD value = 0;
            ASSERT_TRUE(ReadDword(root, name, value)) << GetParam().what;
            EXPECT_EQ(value, GetParam().expected) << GetParam().what;
        }
    for (const wchar_t* name : {L"win_tests.exe", L"WebBrowserTool.exe"}) {
        DWORD value = 0;
        ASSERT_TRUE(ReadDword(HKEY_CURRENT_USER, name, value, kPlainEmulationKey)) << GetParam().what;
        EXPECT_EQ(value, GetParam().expected) << GetParam().what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, BrowserEmulation,
    ::testing::Values(
        EmulationCase{"svcVersion 11 beside Version 9", {{L"svcVersion", L"11.0.9600.17843"}, {L"Version", L"9.11.9600.17843"}}, 11, 11001},
        EmulationCase{"only Version 8", {{L"Version", L"8.0.6001.18702"}}, 8, 8888},
        EmulationCase{"no version values", {}, 0, 7000},
        EmulationCase{"version text starting with a dot", {{L"svcVersion", L".5"}}, 0, 7000}));

TEST(BrowserEmulationValue, AnyOtherHiveNameWritesTheCurrentUser)
{
    RegDeleteKeyW(HKEY_CURRENT_USER, EmulationKey().c_str());
    CWebBrowserHelper::FixBrowserVersion_Internal(L"HKLM", "Other.exe", 12345);
    DWORD value = 0;
    ASSERT_TRUE(ReadDword(HKEY_CURRENT_USER, L"Other.exe", value));
    EXPECT_EQ(value, 12345u);
    EXPECT_FALSE(ReadDword(HKEY_LOCAL_MACHINE, L"Other.exe", value));
}

}  // namespace
