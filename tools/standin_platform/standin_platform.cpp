// The stand-in game platform client: a window whose handle the launcher gets as --winid. It
// writes the handle in decimal to "standin_platform.hwnd" beside itself, appends one JSON line
// per WM_COPYDATA received to "standin_platform_record.txt" (data tag, size and the bytes in
// hex), and exits when its window is closed, when "standin_platform.stop" appears beside it,
// or after ten minutes.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::wstring g_dir;

std::wstring ExeDirectory()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p = path;
    return p.substr(0, p.find_last_of(L"\\/"));
}

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
    g_dir = ExeDirectory();
    WNDCLASSW wc{};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = inst;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"StandinPlatformWindow";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowW(wc.lpszClassName, L"Stand-in platform", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 60, 60, 360,
                              200, nullptr, nullptr, inst, nullptr);
    // Written whole to a temporary name first, so a reader never sees half a number.
    const std::wstring hwndFile = g_dir + L"\\standin_platform.hwnd";
    if (FILE* f = _wfopen((hwndFile + L".tmp").c_str(), L"wb")) {
        std::fprintf(f, "%lu", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(hwnd)));
        std::fclose(f);
        MoveFileExW((hwndFile + L".tmp").c_str(), hwndFile.c_str(), MOVEFILE_REPLACE_EXISTING);
    }

    const std::wstring stopFile = g_dir + L"\\standin_platform.stop";
    const DWORD deadline = GetTickCount() + 10 * 60 * 1000;
    SetTimer(hwnd, 1, 100, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER &&
            (GetFileAttributesW(stopFile.c_str()) != INVALID_FILE_ATTRIBUTES ||
             static_cast<LONG>(GetTickCount() - deadline) >= 0))
            DestroyWindow(hwnd);
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
