// The process's last line of defence: an unhandled exception leaves a minidump in the install
// directory and the process ends without the system's fault dialog.
#pragma once
#include <windows.h>

#include <dbghelp.h>

#include <string>

// "<install dir>\<application name>"; empty until start-up has settled the install directory.
extern std::wstring g_strDumpPrefix;
// The filter that was in place before CrashDumpFilter; put back at shutdown.
extern LPTOP_LEVEL_EXCEPTION_FILTER g_pfnPrevFilter;

LONG WINAPI CrashDumpFilter(EXCEPTION_POINTERS* pExceptionInfo);

// The minidump writer the filter calls: MiniDumpWriteDump. The Windows tests put a faulting one
// here to show what the filter does when the writer itself crashes.
using MiniDumpWriter = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                     PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);
extern MiniDumpWriter g_pfnMiniDumpWriter;

// Loads the dump writer's DLL from System32 ahead of any crash; called with the filter's install.
void LoadCrashDumpWriter();
