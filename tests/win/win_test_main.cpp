// Entry point of the Windows test program. Some tests run this program again as a child
// process in a mode of its own (a crash, or a fresh process-wide log) before GoogleTest starts.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "diag/file_log.h"

int CrashChildMain(const std::wstring& argument);
int CrashChildWithFaultingWriterMain(const std::wstring& argument);
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
    {L"--crash-child-faulting-writer", CrashChildWithFaultingWriterMain},
    {L"--file-log-child", FileLogChildMain},
    {L"--system-info-child", SystemInfoChildMain},
    {L"--show-window-child", ShowWindowChildMain},
    {L"--shortcuts-child", ShortcutsChildMain},
};

std::wstring EnvironmentValue(const wchar_t* name)
{
    wchar_t value[1024] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, value, 1024);
    return length > 0 && length < 1024 ? value : L"(unset)";
}

// What keeps this Wine session from running the tests at all, or "": most tests make windows
// and files, and a dead display or prefix would otherwise show as dozens of unrelated failures.
std::wstring SessionProblem()
{
    HWND window = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    if (!window)
        return L"no window can be made on display " + EnvironmentValue(L"DISPLAY") + L" (error " +
               std::to_wstring(::GetLastError()) + L")";
    ::DestroyWindow(window);
    wchar_t folder[MAX_PATH] = {}, file[MAX_PATH] = {};
    if (!::GetTempPathW(MAX_PATH, folder) || !::GetTempFileNameW(folder, L"wt", 0, file))
        return L"the prefix " + EnvironmentValue(L"WINEPREFIX") + L" has no usable temporary folder (error " +
               std::to_wstring(::GetLastError()) + L")";
    ::DeleteFileW(file);
    return L"";
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3)
        for (const ChildMode& mode : kChildModes)
            if (std::wstring(argv[1]) == mode.flag) return mode.run(argv[2]);
    // The test program's own log stays closed: the log is one file per application name, and
    // the tests that look at it run children that write it.
    CFileLog::Instance().Close();
    const std::wstring problem = SessionProblem();
    if (!problem.empty()) {
        std::fwprintf(stderr, L"win_tests: the Wine session cannot run the tests: %ls\n", problem.c_str());
        return 1;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
