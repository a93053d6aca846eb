#include "app/crash_dump.h"

#include <dbghelp.h>

#include <atomic>

#include "core/profile/profile_names.h"
#include "fw/win_handle.h"

std::wstring g_strDumpPrefix;
LPTOP_LEVEL_EXCEPTION_FILTER g_pfnPrevFilter = nullptr;
MiniDumpWriter g_pfnMiniDumpWriter = ::MiniDumpWriteDump;

namespace {
// A user stream that marks the dump as written by the launcher.
constexpr ULONG32 kLauncherUserStreamType = 0x10001;
// How long a crash on another thread waits for the first crash's dump, which ends the process.
constexpr DWORD kOtherCrashWaitMs = 60000;

// The thread whose crash is being written (0: none yet; no thread has the id 0) and that
// crash's code. Only the first crash of the process is written.
std::atomic<DWORD> g_dumpingThread{0};
DWORD g_firstCrashCode = 0;

// A crash inside the filter (the dump writer faulted) would enter the filter again and again
// until the stack is gone, and the process might then end with any status. The first entry
// wins; every later one ends the process with the first crash's code.
void EndAnyLaterEntry(DWORD crashCode)
{
    DWORD writer = 0;
    if (g_dumpingThread.compare_exchange_strong(writer, ::GetCurrentThreadId())) {
        g_firstCrashCode = crashCode;
        return;
    }
    // Another thread's crash: its dump is being written, and the process ends when it is.
    if (writer != ::GetCurrentThreadId()) ::Sleep(kOtherCrashWaitMs);
    ::TerminateProcess(::GetCurrentProcess(), g_firstCrashCode);
}
}

void LoadCrashDumpWriter()
{
    // Loaded while the process is healthy: inside the filter the loader lock or the heap may be
    // what broke. Kept for the life of the process; the first call of MiniDumpWriteDump binds
    // to this module.
    static const HMODULE dbghelp = ::LoadLibraryExW(L"dbghelp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!dbghelp) return;
    // A dump needs the modules' list, not their symbols. Some dump writers (Wine's) load every
    // module's debug information while writing unless loads are deferred: slow in a dying
    // process, and where that reading faults the filter runs again and again until the stack
    // is gone, leaving neither a dump nor an ended process.
    ::SymSetOptions(::SymGetOptions() | SYMOPT_DEFERRED_LOADS);
}

LONG WINAPI CrashDumpFilter(EXCEPTION_POINTERS* pExceptionInfo)
{
    if (::IsDebuggerPresent()) return EXCEPTION_CONTINUE_SEARCH;
    const EXCEPTION_RECORD* record = pExceptionInfo ? pExceptionInfo->ExceptionRecord : nullptr;
    EndAnyLaterEntry(record ? record->ExceptionCode : EXCEPTION_ACCESS_VIOLATION);

    SYSTEMTIME st;
    ::GetLocalTime(&st);
    // On the stack: the crash may have happened with the heap's lock held, and allocating
    // here would then hang the process instead of writing the dump.
    wchar_t path[2 * MAX_PATH];
    if (!core::FormatCrashDumpFileName(path, sizeof path / sizeof path[0], g_strDumpPrefix.c_str(),
                                       {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond}))
        return EXCEPTION_EXECUTE_HANDLER;

    fw::UniqueFileHandle file(::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
        MINIDUMP_EXCEPTION_INFORMATION exceptionInfo{};
        exceptionInfo.ThreadId = ::GetCurrentThreadId();
        exceptionInfo.ExceptionPointers = pExceptionInfo;
        exceptionInfo.ClientPointers = FALSE;

        MINIDUMP_USER_STREAM stream{};
        stream.Type = kLauncherUserStreamType;
        stream.BufferSize = 0;
        stream.Buffer = nullptr;
        MINIDUMP_USER_STREAM_INFORMATION streams{};
        streams.UserStreamCount = 1;
        streams.UserStreamArray = &stream;

        g_pfnMiniDumpWriter(::GetCurrentProcess(), ::GetCurrentProcessId(), file.get(), MiniDumpNormal,
                            &exceptionInfo, &streams, nullptr);
    }
    return EXCEPTION_EXECUTE_HANDLER;
}
