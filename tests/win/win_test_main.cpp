// Entry point of the Windows test program. Some tests run this program again as a child
// process in a mode of its own (a crash, or a fresh process-wide log) before GoogleTest starts.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "diag/file_log.h"

int CrashChildMain(const std::wstring& argument);
int FileLogChildMain(const std::wstring& argument);
int SystemInfoChildMain(const std::wstring& argument);
int ShowWindowChildMain(const std::wstring& argument);
int ShortcutsChildMain(const std::wstring& argument);

namespace {

struct ChildMode {
    const wchar_t* flag;
    int (*run)(const std::wstring& argument);
};

const ChildMode kChildModes[] = {
    {L"--crash-child", CrashChildMain},
    {L"--file-log-child", FileLogChildMain},
    {L"--system-info-child", SystemInfoChildMain},
    {L"--show-window-child", ShowWindowChildMain},
    {L"--shortcuts-child", ShortcutsChildMain},
};

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3)
        for (const ChildMode& mode : kChildModes)
            if (std::wstring(argv[1]) == mode.flag) return mode.run(argv[2]);
    // The test program's own log stays closed: the log is one file per application name, and
    // the tests that look at it run children that write it.
    CFileLog::Instance().Close();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
