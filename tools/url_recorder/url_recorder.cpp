// The test prefixes' web browser: registered as the shell's "open" command of http and https
// addresses, it appends what it was asked to open (its arguments) as one line to
// C:\url_recorder.txt and ends, so a test can see which address the shell was handed and no
// real browser is ever started.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tools/common/tool_support.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR arguments, int)
{
    const std::string line = tools::Utf8(arguments ? arguments : L"") + "\n";
    if (FILE* f = _wfopen(L"C:\\url_recorder.txt", L"ab")) {
        std::fwrite(line.data(), 1, line.size(), f);
        std::fclose(f);
    }
    return 0;
}
