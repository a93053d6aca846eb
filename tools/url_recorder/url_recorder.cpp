// The test prefixes' web browser: registered as the shell's default ("open") command of http
// and https addresses, it appends what it was asked to open (its arguments) as one line to
// C:\url_recorder.txt, followed by a tab and the file name of the program that started it
// (explorer.exe when the desktop's shell opened it, the launcher when it did so itself), and
// ends, so a test can see which address the shell was handed, by whom, and no real browser is
// ever started.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>

#include "tools/common/tool_support.h"

namespace {

// The executable file name of the process that started this one, or "?".
std::wstring ParentName()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return L"?";
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    DWORD parent = 0;
    for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry))
        if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
    std::wstring name = L"?";
    for (BOOL ok = Process32FirstW(snapshot, &entry); ok && parent; ok = Process32NextW(snapshot, &entry))
        if (entry.th32ProcessID == parent) name = entry.szExeFile;
    CloseHandle(snapshot);
    return name;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR arguments, int)
{
    const std::string line = tools::Utf8(arguments ? arguments : L"") + "\t" + tools::Utf8(ParentName()) + "\n";
    if (FILE* f = _wfopen(L"C:\\url_recorder.txt", L"ab")) {
        std::fwrite(line.data(), 1, line.size(), f);
        std::fclose(f);
    }
    return 0;
}
