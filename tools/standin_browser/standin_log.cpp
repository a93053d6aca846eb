#include "tools/standin_browser/standin_log.h"

#include <windows.h>

#include <cstdio>

#include "tools/common/tool_support.h"

namespace standin {

void Log(const std::wstring& line)
{
    wchar_t path[MAX_PATH] = L"C:\\standin_browser.log";
    wchar_t named[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"STANDIN_BROWSER_LOG", named, MAX_PATH) > 0) lstrcpynW(path, named, MAX_PATH);
    if (FILE* f = _wfopen(path, L"ab")) {
        const std::string text = tools::Utf8(line) + "\n";
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
}

}  // namespace standin
