// The stand-in game platform client: a window whose handle the launcher gets as --winid. It
// writes the handle in decimal to "standin_platform.hwnd" beside itself, appends one JSON line
// per WM_COPYDATA received to "standin_platform_record.txt" (data tag, size and the bytes in
// hex), and exits when its window is closed, when "standin_platform.stop" appears beside it,
// or after ten minutes.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tools/common/tool_support.h"

namespace {

std::wstring g_dir;

void AppendLine(const std::wstring& file, const std::string& line)
{
    if (FILE* f = _wfopen((g_dir + L"\\" + file).c_str(), L"ab")) {
        std::fwrite(line.data(), 1, line.size(), f);
        std::fclose(f);
    }
}

void RecordCopyData(const COPYDATASTRUCT* data)
{
    std::string hex;
    const auto* bytes = static_cast<const unsigned char*>(data->lpData);
    char buf[4];
    for (DWORD i = 0; bytes && i < data->cbData; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", bytes[i]);
        hex += buf;
    }
    AppendLine(L"standin_platform_record.txt", "{\"tag\": " + std::to_string(data->dwData) + ", \"size\": " +
                                                   std::to_string(data->cbData) + ", \"hex\": \"" + hex + "\"}\n");
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_COPYDATA:
        RecordCopyData(reinterpret_cast<const COPYDATASTRUCT*>(lp));
        return TRUE;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, LPWSTR, int)
{
    g_dir = tools::ExeDirectory();
    HWND hwnd =
        tools::CreateStandinWindow(inst, L"StandinPlatformWindow", L"Stand-in platform", WndProc, 60, 60, 360, 200);
    // Written whole to a temporary name first, so a reader never sees half a number.
    const std::wstring hwndFile = g_dir + L"\\standin_platform.hwnd";
    if (FILE* f = _wfopen((hwndFile + L".tmp").c_str(), L"wb")) {
        std::fprintf(f, "%lu", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(hwnd)));
        std::fclose(f);
        MoveFileExW((hwndFile + L".tmp").c_str(), hwndFile.c_str(), MOVEFILE_REPLACE_EXISTING);
    }

    tools::RunUntilStopped(hwnd, g_dir + L"\\standin_platform.stop", 10 * 60 * 1000);
    return 0;
}
