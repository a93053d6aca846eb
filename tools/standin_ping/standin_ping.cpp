// The test prefixes' ping.exe: the uninstaller's delayed removal runs "ping 1.1.1.1" only to
// wait, and no test may send anything to a public address. This one appends its arguments as
// one line to C:\ping_record.txt and waits a second, the way the real one would delay.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tools/common/tool_support.h"

int wmain()
{
    std::wstring arguments = GetCommandLineW();
    // The program name, quoted or not, and the blanks after it.
    size_t end = arguments[0] == L'"' ? arguments.find(L'"', 1) : arguments.find(L' ');
    end = end == std::wstring::npos ? arguments.size() : end + 1;
    const size_t start = arguments.find_first_not_of(L' ', end);
    const std::string line = tools::Utf8(start == std::wstring::npos ? L"" : arguments.substr(start)) + "\n";
    if (FILE* f = _wfopen(L"C:\\ping_record.txt", L"ab")) {
        std::fwrite(line.data(), 1, line.size(), f);
        std::fclose(f);
    }
    Sleep(1000);
    return 0;
}
