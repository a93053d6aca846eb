// The crash dump writer, exercised in a child process that installs it and then faults.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/crash_dump.h"
#include "tests/win/win_test_support.h"

namespace {

constexpr ULONG32 kUserStreamType = 0x10001;
constexpr ULONG32 kExceptionStreamType = 6;

struct DumpStream {
    ULONG32 type;
    ULONG32 size;
};

// The stream directory of a minidump file; empty when the file is not a minidump.
std::vector<DumpStream> ReadStreamDirectory(const std::vector<char>& file)
{
    std::vector<DumpStream> streams;
    if (file.size() < 32 || std::memcmp(file.data(), "MDMP", 4) != 0) return streams;
    ULONG32 count = 0, rva = 0;
    std::memcpy(&count, file.data() + 8, 4);
    std::memcpy(&rva, file.data() + 12, 4);
    for (ULONG32 i = 0; i < count && rva + (i + 1) * 12 <= file.size(); ++i) {
        DumpStream s{};
        std::memcpy(&s.type, file.data() + rva + i * 12, 4);
        std::memcpy(&s.size, file.data() + rva + i * 12 + 4, 4);
        streams.push_back(s);
    }
    return streams;
}

// What the faulting dump writer raises: not the crash's own code, so an exit with it shows
// that the writer's fault, not the crash, ended the process.
constexpr DWORD kWriterFault = 0xE0D0F001;

DWORD RunCrashingChild(const std::wstring& prefix, const wchar_t* mode = L"--crash-child")
{
    return wintest::RunSelfAsChild(mode, L"\"" + prefix + L"\"");
}

TEST(CrashDump, FaultLeavesAMinidumpWithTheLauncherStream)
{
    wintest::TempDir dir(L"crashdump");
    const std::wstring prefix = dir.path() + L"\\qorn";

    EXPECT_EQ(RunCrashingChild(prefix), static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));

    const std::vector<std::wstring> dumps = wintest::ListFiles(dir.path(), L"qorn_*.dmp");
    ASSERT_EQ(dumps.size(), 1u);
    // "qorn_YYYY_MM_DD_hh_mm_ss.dmp"
    ASSERT_EQ(dumps[0].size(), std::wstring(L"qorn_2024_03_09_17_05_42.dmp").size()) << dumps[0];
    int y, mo, d, h, mi, s;
    EXPECT_EQ(swscanf(dumps[0].c_str(), L"qorn_%4d_%2d_%2d_%2d_%2d_%2d.dmp", &y, &mo, &d, &h, &mi, &s), 6);

    const std::vector<char> bytes = wintest::ReadFileBytes(dir.path() + L"\\" + dumps[0]);
    const std::vector<DumpStream> streams = ReadStreamDirectory(bytes);
    ASSERT_FALSE(streams.empty()) << "not a minidump";
    bool userStream = false, exceptionStream = false;
    for (const DumpStream& st : streams) {
        if (st.type == kUserStreamType) userStream = st.size == 0;
        if (st.type == kExceptionStreamType) exceptionStream = true;
    }
    EXPECT_TRUE(userStream);
    EXPECT_TRUE(exceptionStream);
}

TEST(CrashDump, MissingDirectoryStillEndsTheProcessQuietly)
{
    wintest::TempDir dir(L"crashdump-missing");
    const std::wstring prefix = dir.path() + L"\\gone\\qorn";
    EXPECT_EQ(RunCrashingChild(prefix), static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_TRUE(wintest::ListFiles(dir.path(), L"*").empty());
}

TEST(CrashDump, AWriterThatFaultsEndsTheProcessWithTheCrashsCode)
{
    // The writer's fault enters the filter again; that entry must end the process with the
    // first crash's code instead of writing again until the stack is gone.
    wintest::TempDir dir(L"crashdump-faulting-writer");
    const DWORD code = RunCrashingChild(dir.path() + L"\\qorn", L"--crash-child-faulting-writer");
    EXPECT_EQ(code, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION)) << std::hex << code;
    EXPECT_NE(code, kWriterFault);
}

BOOL WINAPI FaultingWriter(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                           PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION)
{
    ::RaiseException(kWriterFault, 0, 0, nullptr);
    return FALSE;
}

}  // namespace

// Child mode: install the filter as start-up does, then fault.
int CrashChildMain(const std::wstring& prefix)
{
    g_strDumpPrefix = prefix;
    SetErrorMode(SEM_NOGPFAULTERRORBOX);
    g_pfnPrevFilter = SetUnhandledExceptionFilter(CrashDumpFilter);
    volatile int* nowhere = nullptr;
    *nowhere = 1;
    return 1;
}

// Child mode: the same with a dump writer that faults.
int CrashChildWithFaultingWriterMain(const std::wstring& prefix)
{
    g_pfnMiniDumpWriter = FaultingWriter;
    return CrashChildMain(prefix);
}
