// The uninstaller's removals: a directory tree with a file in use, links to folders elsewhere,
// and the registry keys.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "app/web_app.h"
#include "core/profile/profile.h"
#include "core/profile/profile_names.h"
#include "fw/win_handle.h"
#include "tests/win/win_test_support.h"
#include "update/game_remote_config.h"

namespace {

void WriteFile(const std::wstring& path)
{
    fw::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file);
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(DeleteNotNullDir, RemovesATreeAndReportsAFileInUse)
{
    wintest::TempDir root(L"uninstall-tree");
    const std::wstring tree = root.path() + L"\\client";
    for (const wchar_t* dir : {L"", L"\\qorn", L"\\qorn\\data", L"\\qorn\\data\\deep", L"\\empty"})
        ASSERT_TRUE(::CreateDirectoryW((tree + dir).c_str(), nullptr));
    for (const wchar_t* file : {L"\\a.txt", L"\\qorn\\qorn.exe", L"\\qorn\\data\\deep\\b.bin"}) WriteFile(tree + file);
    EXPECT_TRUE(CWebApp::DeleteNotNullDir(tree));
    EXPECT_FALSE(Exists(tree));

    // A file in use keeps its folder and every folder above it; the rest goes.
    ASSERT_TRUE(::CreateDirectoryW(tree.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((tree + L"\\qorn").c_str(), nullptr));
    WriteFile(tree + L"\\qorn\\held.txt");
    WriteFile(tree + L"\\free.txt");
    {
        fw::UniqueFileHandle held(::CreateFileW((tree + L"\\qorn\\held.txt").c_str(), GENERIC_READ, 0, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        EXPECT_FALSE(CWebApp::DeleteNotNullDir(tree));
    }
    EXPECT_TRUE(Exists(tree + L"\\qorn\\held.txt"));
    EXPECT_FALSE(Exists(tree + L"\\free.txt"));
    EXPECT_TRUE(CWebApp::DeleteNotNullDir(tree));
}

TEST(DeleteNotNullDir, ALinkToAFolderElsewhereGoesWithoutWhatItPointsTo)
{
    wintest::TempDir root(L"uninstall-link");
    const std::wstring outside = root.path() + L"\\player-data";
    const std::wstring tree = root.path() + L"\\client";
    ASSERT_TRUE(::CreateDirectoryW(outside.c_str(), nullptr));
    WriteFile(outside + L"\\saves.dat");
    ASSERT_TRUE(::CreateDirectoryW(tree.c_str(), nullptr));
    if (!::CreateSymbolicLinkW((tree + L"\\linked").c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY))
        GTEST_SKIP() << "no folder links here (error " << ::GetLastError() << ")";
    EXPECT_TRUE(CWebApp::DeleteNotNullDir(tree));
    EXPECT_FALSE(Exists(tree));
    EXPECT_TRUE(Exists(outside + L"\\saves.dat"));
}

TEST(RemoveRegisties, DeletesTheUninstallKeyAndTheClassesKey)
{
    const std::wstring uninstall = core::UninstallKeyPath(GAME_CODE);
    const std::wstring classes = core::ClassesRootKeyName(GAME_CODE, DITCH_CODE);
    for (auto [root, path] : {std::pair<HKEY, std::wstring>{HKEY_CURRENT_USER, uninstall},
                              std::pair<HKEY, std::wstring>{HKEY_CLASSES_ROOT, classes}}) {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), ERROR_SUCCESS);
        fw::UniqueRegKey owned(key);
    }
    CGameRemoteConfig::Instance().RemoveRegisties();
    HKEY key = nullptr;
    EXPECT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, uninstall.c_str(), 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(::RegOpenKeyExW(HKEY_CLASSES_ROOT, classes.c_str(), 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    // Missing keys only show in the log.
    CGameRemoteConfig::Instance().RemoveRegisties();
}

}  // namespace
