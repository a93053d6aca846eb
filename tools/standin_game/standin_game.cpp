// The stand-in game: packed into test packages as client\<code>\<code>.exe. It appends one
// JSON line with its command line, working directory, pid, start time and the value of
// STANDIN_ENV_PROBE to
// "standin_game_record.txt" beside itself, shows a top-level window "Stand-in game" (and
// appends {"pid":…,"event":"maximized"} when that window is maximised), and exits
// when that window is closed, when "standin_game.stop" appears beside it, or after
// STANDIN_GAME_EXIT_AFTER_MS milliseconds (default 10 minutes, so it never outlives a test run).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/common/tool_support.h"

namespace {

std::wstring g_dir;

void AppendRecord(const std::string& line)
{
    if (FILE* f = _wfopen((g_dir + L"\\standin_game_record.txt").c_str(), L"ab")) {
        std::fwrite(line.data(), 1, line.size(), f);
        std::fclose(f);
    }
}

void RecordStart()
{
    wchar_t cwd[MAX_PATH * 2] = {};
    GetCurrentDirectoryW(MAX_PATH * 2, cwd);
    // Shows that the game got the environment of the program that started it.
    wchar_t probe[256] = {};
    GetEnvironmentVariableW(L"STANDIN_ENV_PROBE", probe, 256);
    SYSTEMTIME st;
    GetLocalTime(&st);
    char when[64];
    std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d:%02d.%03d", st.wYear, st.wMonth, st.wDay, st.wHour,
                  st.wMinute, st.wSecond, st.wMilliseconds);
    const std::string line = "{\"pid\":" + std::to_string(GetCurrentProcessId()) + ",\"cmdline\":" +
                             tools::JsonString(GetCommandLineW()) + ",\"cwd\":" + tools::JsonString(cwd) + ",\"start\":\"" + when + "\"" +
                             ",\"probe\":" + tools::JsonString(probe) + "}\n";
    AppendRecord(line);
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_SIZE && wp == SIZE_MAXIMIZED)
        AppendRecord("{\"pid\":" + std::to_string(GetCurrentProcessId()) + ",\"event\":\"maximized\"}\n");
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
    g_dir = tools::ExeDirectory();
    RecordStart();

    HWND hwnd = tools::CreateStandinWindow(inst, L"StandinGameWindow", L"Stand-in game", WndProc, 40, 40, 400, 240);

    tools::RunUntilStopped(hwnd, g_dir + L"\\standin_game.stop", ExitAfterMs());
    return 0;
}
