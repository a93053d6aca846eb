#include "core/profile/profile_names.h"

#include <gtest/gtest.h>

namespace {

const std::wstring kCode = L"qorn";
const std::wstring kDitch = L"palmet";

struct InstallDirCase {
    const wchar_t* registry;
    const wchar_t* exeDir;
    bool c;
    bool d;
    const wchar_t* expected;
};

class InstallDirRule : public ::testing::TestWithParam<InstallDirCase> {};

TEST_P(InstallDirRule, SettlesTheDirectory)
{
    const auto& p = GetParam();
    core::InstallDirInputs in{p.registry, p.exeDir, p.c, p.d};
    EXPECT_EQ(core::SettleInstallDir(in, kCode, kDitch), p.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, InstallDirRule,
    ::testing::Values(
        // C:\ wins over the registry value and the executable's directory.
        InstallDirCase{L"E:\\Games\\qorn-palmet", L"F:\\dl", true, true, L"C:\\qorn-palmet"},
        InstallDirCase{L"", L"F:\\dl", true, false, L"C:\\qorn-palmet"},
        // Without C:\, D:\ wins.
        InstallDirCase{L"E:\\Games\\qorn-palmet", L"F:\\dl", false, true, L"D:\\qorn-palmet"},
        // Neither drive: the registry value unchanged, else the executable's directory.
        InstallDirCase{L"E:\\Games\\qorn-palmet", L"F:\\dl", false, false, L"E:\\Games\\qorn-palmet"},
        InstallDirCase{L"E:\\odd place", L"F:\\dl", false, false, L"E:\\odd place"},
        InstallDirCase{L"", L"F:\\dl", false, false, L"F:\\dl\\qorn-palmet"},
        InstallDirCase{L"", L"E:\\Games", false, false, L"E:\\Games\\qorn-palmet"}));

struct NameCase {
    const wchar_t* modulePath;
    const wchar_t* appName;
    const wchar_t* fileParam;
    const wchar_t* launcherName;
    const wchar_t* logFile;
};

class ApplicationNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(ApplicationNames, DeriveFromTheExecutable)
{
    const auto& p = GetParam();
    const std::wstring app = core::ApplicationNameFromModulePath(p.modulePath);
    EXPECT_EQ(app, p.appName);
    const std::wstring param = core::FileParameter(app);
    EXPECT_EQ(param, p.fileParam);
    EXPECT_EQ(core::LauncherName(kCode, param), p.launcherName);
    EXPECT_EQ(core::LogFilePath(kCode, kDitch, app), p.logFile);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ApplicationNames,
    ::testing::Values(
        NameCase{L"E:\\Games\\Vantorra.exe", L"Vantorra", L"", L"qorn", L"C:\\qorn-palmet\\Vantorra.log"},
        NameCase{L"E:\\Games\\Vantorra_X7.exe", L"Vantorra_X7", L"X7", L"qorn_X7",
                 L"C:\\qorn-palmet\\Vantorra_X7.log"},
        // The last "_" counts.
        NameCase{L"D:\\Vantorra_a_b.exe", L"Vantorra_a_b", L"b", L"qorn_b", L"C:\\qorn-palmet\\Vantorra_a_b.log"},
        // The installed copy started from its shortcut.
        NameCase{L"C:\\qorn-palmet\\qorn.exe", L"qorn", L"", L"qorn", L"C:\\qorn-palmet\\qorn.log"},
        // A trailing "_" leaves an empty file parameter.
        NameCase{L"C:\\x\\Vantorra_.exe", L"Vantorra_", L"", L"qorn", L"C:\\qorn-palmet\\Vantorra_.log"},
        // Only the last extension goes; a dotted folder does not count.
        NameCase{L"C:\\v1.2\\Vantorra.beta.exe", L"Vantorra.beta", L"", L"qorn",
                 L"C:\\qorn-palmet\\Vantorra.beta.log"}));

TEST(ProfileNames, DirectoryOfModulePathDropsTheFileName)
{
    EXPECT_EQ(core::DirectoryOfModulePath(L"E:\\Games\\Vantorra.exe"), L"E:\\Games");
    EXPECT_EQ(core::DirectoryOfModulePath(L"Vantorra.exe"), L"");
}

TEST(ProfileNames, FilesBelowTheInstallDirectory)
{
    const std::wstring install = L"C:\\qorn-palmet";
    const std::wstring client = core::ClientDir(install);
    EXPECT_EQ(client, L"C:\\qorn-palmet\\client");
    EXPECT_EQ(core::LauncherCopyPath(install, L"qorn_X7"), L"C:\\qorn-palmet\\qorn_X7.exe");
    EXPECT_EQ(core::UninstallCommand(install, L"qorn"), L"C:\\qorn-palmet\\qorn.exe /uninstall");
    EXPECT_EQ(core::PackageFilePath(install, kCode), L"C:\\qorn-palmet\\qorn.zip");
    EXPECT_EQ(core::ResumeRecordPath(install), L"C:\\qorn-palmet\\tempdownload.dat");
    EXPECT_EQ(core::VersionRecordPath(client), L"C:\\qorn-palmet\\client\\game_client_version.txt");
    EXPECT_EQ(core::GameDirectory(client, kCode), L"C:\\qorn-palmet\\client\\qorn");
    EXPECT_EQ(core::GameExecutablePath(client, kCode), L"C:\\qorn-palmet\\client\\qorn\\qorn.exe");
    EXPECT_EQ(core::CrashDumpPrefix(install, L"qorn"), L"C:\\qorn-palmet\\qorn");
}

TEST(ProfileNames, LogStaysOnDriveCWhateverTheInstallDirectory)
{
    EXPECT_EQ(core::LogFilePath(L"abc", L"ch1", L"Game"), L"C:\\abc-ch1\\Game.log");
}

TEST(ProfileNames, CrashDumpFileNameIntoABufferRefusesWhatDoesNotFit)
{
    const core::LocalTimeFields t{2024, 3, 9, 17, 5, 42};
    wchar_t exact[sizeof "P_2024_03_09_17_05_42.dmp"];  // the name and its terminator
    EXPECT_TRUE(core::FormatCrashDumpFileName(exact, sizeof exact / sizeof exact[0], L"P", t));
    EXPECT_STREQ(exact, L"P_2024_03_09_17_05_42.dmp");
    wchar_t shorter[sizeof "P_2024_03_09_17_05_42.dmp" - 1];
    EXPECT_FALSE(core::FormatCrashDumpFileName(shorter, sizeof shorter / sizeof shorter[0], L"P", t));
    EXPECT_STREQ(shorter, L"");  // never a cut name that would land somewhere else
}

TEST(ProfileNames, CrashDumpFileNamePadsEveryField)
{
    EXPECT_EQ(core::CrashDumpFileName(L"C:\\qorn-palmet\\qorn", {2024, 3, 9, 17, 5, 42}),
              L"C:\\qorn-palmet\\qorn_2024_03_09_17_05_42.dmp");
    EXPECT_EQ(core::CrashDumpFileName(L"P", {987, 12, 31, 0, 0, 0}), L"P_0987_12_31_00_00_00.dmp");
}

TEST(ProfileNames, ShortcutsAndRegistryKeys)
{
    EXPECT_EQ(core::StartMenuFolder(L"S:\\Start Menu", kDitch), L"S:\\Start Menu\\Apps\\palmet");
    EXPECT_EQ(core::ShortcutFile(L"S:\\Desktop", L"Vantorra"), L"S:\\Desktop\\Vantorra.lnk");
    EXPECT_EQ(core::UninstallShortcutName(kCode), L"qorn-uninstall");
    EXPECT_EQ(core::UninstallKeyPath(kCode), L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qorn");
    EXPECT_EQ(core::ClassesRootKeyName(kCode, kDitch), L"qorn-palmet");
    EXPECT_EQ(core::GameSettingsKeyPath(L"Vantorra"), L"SOFTWARE\\dov\\Vantorra");
}

}  // namespace
