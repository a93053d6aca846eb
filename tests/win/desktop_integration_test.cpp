// Shortcuts, the uninstall entry and the window-size repair, as they land in the registry and
// the file system of the Wine prefix. Shortcut creation reads the platform's "source" from the
// process command line, so it runs in a child process with the tokens under test.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <string>

#include "app/web_app.h"
#include "core/profile/profile.h"
#include "core/profile/profile_names.h"
#include "fw/app.h"
#include "fw/com_ptr.h"
#include "fw/win_handle.h"
#include "tests/win/win_test_support.h"
#include "update/game_remote_config.h"
#include "update/pipeline_globals.h"

namespace {

const std::wstring kInstallDir = L"C:\\" + std::wstring(GAME_CODE) + L"-" + DITCH_CODE;

struct Link {
    bool exists = false;
    std::wstring target;
    std::wstring arguments;
};

Link ReadLink(const std::wstring& path)
{
    Link link;
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return link;
    link.exists = true;
    fw::ComPtr<IShellLinkW> shell;
    fw::ComPtr<IPersistFile> file;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, shell.put_void())) ||
        FAILED(shell->QueryInterface(IID_IPersistFile, file.put_void())) || FAILED(file->Load(path.c_str(), STGM_READ)))
        return link;
    wchar_t buf[MAX_PATH * 2] = {};
    if (SUCCEEDED(shell->GetPath(buf, MAX_PATH * 2, nullptr, SLGP_RAWPATH))) link.target = buf;
    buf[0] = 0;
    if (SUCCEEDED(shell->GetArguments(buf, MAX_PATH * 2))) link.arguments = buf;
    return link;
}

std::wstring Folder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE);
    return path;
}

std::string ChildLog()
{
    const std::vector<char> bytes = wintest::ReadFileBytes(
        core::LogFilePath(GAME_CODE, DITCH_CODE, core::ApplicationNameFromModulePath(fw::ModuleFileName())));
    return std::string(bytes.begin(), bytes.end());
}

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class Shortcuts : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        CreateDirectoryW(kInstallDir.c_str(), nullptr);
        wintest::RemoveTree(Folder(CSIDL_STARTMENU) + L"\\Apps");
        DeleteFileW(DesktopLink().c_str());
        DeleteFileW(InstallLink().c_str());
    }
    void TearDown() override { CoUninitialize(); }

    DWORD RunChild(const std::wstring& tokens) { return wintest::RunSelfAsChild(L"--shortcuts-child", tokens); }
    std::wstring Target() const { return kInstallDir + L"\\" + GAME_CODE + L".exe"; }
    std::wstring InstallLink() const { return core::ShortcutFile(kInstallDir, core::UninstallShortcutName(GAME_CODE)); }
    std::wstring StartMenu() const { return core::StartMenuFolder(Folder(CSIDL_STARTMENU), DITCH_CODE); }
    std::wstring DesktopLink() const { return core::ShortcutFile(Folder(CSIDL_DESKTOPDIRECTORY), GAME_NAME); }
};

TEST_F(Shortcuts, AllFourLinksPointAtTheLauncherCopy)
{
    CreateDirectoryW((Folder(CSIDL_STARTMENU) + L"\\Apps").c_str(), nullptr);
    ASSERT_EQ(RunChild(L"--winid=1"), 0u);
    const struct {
        std::wstring path;
        const wchar_t* arguments;
    } expected[] = {{InstallLink(), L"/uninstall"},
                    {core::ShortcutFile(StartMenu(), GAME_NAME), L""},
                    {core::ShortcutFile(StartMenu(), core::UninstallShortcutName(GAME_CODE)), L"/uninstall"},
                    {DesktopLink(), L""}};
    for (const auto& e : expected) {
        const Link link = ReadLink(e.path);
        EXPECT_TRUE(link.exists) << std::string(e.path.begin(), e.path.end());
        EXPECT_TRUE(_wcsicmp(link.target.c_str(), Target().c_str()) == 0);
        EXPECT_EQ(link.arguments, e.arguments);
    }
    EXPECT_EQ(Count(ChildLog(), "CreateLink ret:"), 0u) << ChildLog();
}

TEST_F(Shortcuts, AnExistingLinkIsReplaced)
{
    ASSERT_TRUE(wintest::WriteFileBytes(DesktopLink(), "not a link"));
    ASSERT_EQ(RunChild(L"-"), 0u);
    const Link link = ReadLink(DesktopLink());
    EXPECT_TRUE(_wcsicmp(link.target.c_str(), Target().c_str()) == 0);
}

TEST_F(Shortcuts, MissingAppsFolderFailsOnlyTheStartMenuLinks)
{
    ASSERT_EQ(RunChild(L"-"), 0u);
    EXPECT_FALSE(ReadLink(core::ShortcutFile(StartMenu(), GAME_NAME)).exists);
    EXPECT_TRUE(ReadLink(DesktopLink()).exists);
    EXPECT_TRUE(ReadLink(InstallLink()).exists);
    EXPECT_EQ(Count(ChildLog(), "CreateLink ret:"), 2u) << ChildLog();
}

TEST_F(Shortcuts, SourceFcInAnyCaseKeepsOnlyTheInstallDirectoryLink)
{
    CreateDirectoryW((Folder(CSIDL_STARTMENU) + L"\\Apps").c_str(), nullptr);
    ASSERT_EQ(RunChild(L"--source=fc"), 0u);
    EXPECT_TRUE(ReadLink(InstallLink()).exists);
    EXPECT_FALSE(ReadLink(DesktopLink()).exists);
    EXPECT_FALSE(ReadLink(core::ShortcutFile(StartMenu(), GAME_NAME)).exists);
    EXPECT_NE(ChildLog().find("Stop creating shortcuts: source=fc"), std::string::npos);
}

std::wstring ReadString(HKEY key, const wchar_t* name)
{
    wchar_t buf[600] = {};
    DWORD size = sizeof buf - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return L"<missing>";
    return buf;
}

class Registry : public ::testing::Test {
protected:
    void SetUp() override
    {
        CGameRemoteConfig::Instance().Configure(LauncherUpdateSettings(kInstallDir, kInstallDir + L"\\client"));
        g_launcherExeName = std::wstring(GAME_CODE) + L"_X7";
        RegDeleteKeyW(HKEY_CURRENT_USER, core::UninstallKeyPath(GAME_CODE).c_str());
    }
    void SetSize(DWORD width, DWORD height, DWORD defWidth, DWORD defHeight)
    {
        fw::UniqueRegKey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, core::GameSettingsKeyPath(GAME_NAME).c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        const std::pair<const wchar_t*, DWORD> values[] = {
            {L"Screenmanager Resolution Width_h182942802", width},
            {L"Screenmanager Resolution Height_h2627697771", height},
            {L"Screenmanager Resolution Width Default_h680557497", defWidth},
            {L"Screenmanager Resolution Height Default_h1380706816", defHeight}};
        for (const auto& [name, value] : values)
            RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }
    std::pair<DWORD, DWORD> StoredSize()
    {
        fw::UniqueRegKey key;
        RegOpenKeyExW(HKEY_CURRENT_USER, core::GameSettingsKeyPath(GAME_NAME).c_str(), 0, KEY_READ, key.put());
        DWORD w = 0, h = 0, size = sizeof(DWORD);
        RegQueryValueExW(key.get(), L"Screenmanager Resolution Width_h182942802", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(&w), &size);
        size = sizeof(DWORD);
        RegQueryValueExW(key.get(), L"Screenmanager Resolution Height_h2627697771", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(&h), &size);
        return {w, h};
    }
};

TEST_F(Registry, UninstallEntryHoldsTheFiveValues)
{
    CGameRemoteConfig::Instance().SetRegisties();
    fw::UniqueRegKey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, core::UninstallKeyPath(GAME_CODE).c_str(), 0, KEY_READ, key.put()),
              ERROR_SUCCESS);
    const std::wstring copy = kInstallDir + L"\\" + GAME_CODE + L"_X7.exe";
    EXPECT_EQ(ReadString(key.get(), L"DisplayIcon"), copy);
    EXPECT_EQ(ReadString(key.get(), L"DisplayName"), GAME_CODE);
    EXPECT_EQ(ReadString(key.get(), L"DisplayVersion"), LAUNCHER_VERSION);
    EXPECT_EQ(ReadString(key.get(), L"UninstallString"), copy + L" /uninstall");
    EXPECT_EQ(ReadString(key.get(), L"InstallPath"), kInstallDir);
}

struct SizeCase {
    DWORD width, height;
    std::pair<DWORD, DWORD> after;
};

class WindowSizeRepair : public Registry, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(WindowSizeRepair, ResetsAnAbnormalSizeToTheDefaults)
{
    SetSize(GetParam().width, GetParam().height, 1024, 768);
    CGameRemoteConfig::Instance().AdjustWindowSize();
    EXPECT_EQ(StoredSize(), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(Table, WindowSizeRepair,
                         ::testing::Values(SizeCase{0xFFFFFFFFu, 600, {1024, 768}}, SizeCase{319, 600, {1024, 768}},
                                           SizeCase{800, 10001, {1024, 768}}, SizeCase{320, 180, {320, 180}},
                                           SizeCase{1920, 1080, {1920, 1080}}));

}  // namespace

// Child mode: the command line carries the platform's tokens; create the shortcuts as the
// update thread does after an install.
int ShortcutsChildMain(const std::wstring&)
{
    CGameRemoteConfig::Instance().Configure(LauncherUpdateSettings(kInstallDir, kInstallDir + L"\\client"));
    g_launcherExeName = GAME_CODE;
    CGameRemoteConfig::Instance().CreateShortcuts();
    return 0;
}
