// The stand-in game: packed into test packages as client\<code>\<code>.exe. It appends one
// JSON line with its command line, working directory, pid and start time to
// "standin_game_record.txt" beside itself, shows a top-level window "Stand-in game", and exits
// when that window is closed, when "standin_game.stop" appears beside it, or after
// STANDIN_GAME_EXIT_AFTER_MS milliseconds (default 10 minutes, so it never outlives a test run).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::wstring ExeDirectory()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p = path;
    return p.substr(0, p.find_last_of(L"\\/"));
}

std::string Utf8(const std::wstring& w)
{
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

std::string Json(const std::wstring& w)
{
    std::string out = "\"";
    for (char c : Utf8(w)) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(c));
            out += buf;
            continue;
        }
        out += c;
    }
    return out + "\"";
}

void Record(const std::wstring& dir)
{
    wchar_t cwd[MAX_PATH * 2] = {};
    GetCurrentDirectoryW(MAX_PATH * 2, cwd);
    SYSTEMTIME st;
    GetLocalTime(&st);
    char when[64];
    std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d:%02d.%03d", st.wYear, st.wMonth, st.wDay, st.wHour,
                  st.wMinute, st.wSecond, st.wMilliseconds);
    const std::string line = "{\"pid\":" + std::to_string(GetCurrentProcessId()) + ",\"cmdline\":" +
                             Json(GetCommandLineW()) + ",\"cwd\":" + Json(cwd) + ",\"start\":\"" + when + "\"}\n";
    if (FILE* f = _wfopen((dir + L"\\standin_game_record.txt").c_str(), L"ab")) {
        std::fwrite(line.data(), 1, line.size(), f);
        std::fclose(f);
    }
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

DWORD ExitAfterMs()
{
    wchar_t buf[32] = {};
    if (GetEnvironmentVariableW(L"STANDIN_GAME_EXIT_AFTER_MS", buf, 32) > 0) return std::wcstoul(buf, nullptr, 10);
    return 10 * 60 * 1000;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, LPWSTR, int)
{
    const std::wstring dir = ExeDirectory();
    Record(dir);

    WNDCLASSW wc{};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = inst;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"StandinGameWindow";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowW(wc.lpszClassName, L"Stand-in game", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 400, 240,
                              nullptr, nullptr, inst, nullptr);

    const std::wstring stopFile = dir + L"\\standin_game.stop";
    const DWORD deadline = GetTickCount() + ExitAfterMs();
    SetTimer(hwnd, 1, 100, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER) {
            const bool stopRequested = GetFileAttributesW(stopFile.c_str()) != INVALID_FILE_ATTRIBUTES;
            if (stopRequested || static_cast<LONG>(GetTickCount() - deadline) >= 0) DestroyWindow(hwnd);
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
