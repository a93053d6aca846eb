// Small pieces the Windows helper programs share: their own folder, UTF-8 and JSON text for
// what they write, and the message loop of a stand-in that ends on request.
#pragma once
#include <windows.h>

#include <cstdio>
#include <string>

namespace tools {

// The folder of the running program.
inline std::wstring ExeDirectory()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring p = path;
    return p.substr(0, p.find_last_of(L"\\/"));
}

inline std::string Utf8(const std::wstring& w)
{
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

// A JSON string literal of the text, in UTF-8.
inline std::string JsonString(const std::wstring& w)
{
    std::string out = "\"";
    for (char c : Utf8(w)) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// A stand-in's visible top-level window of its own class, at the given place and size.
inline HWND CreateStandinWindow(HINSTANCE inst, const wchar_t* className, const wchar_t* caption, WNDPROC proc,
                                int x, int y, int width, int height)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = inst;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = className;
    RegisterClassW(&wc);
    return CreateWindowW(className, caption, WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y, width, height, nullptr, nullptr,
                         inst, nullptr);
}

// Runs the message loop of a stand-in's window until the window is closed, stopFile appears,
// or lifetimeMs have passed, so a stand-in never outlives its test.
inline void RunUntilStopped(HWND hwnd, const std::wstring& stopFile, DWORD lifetimeMs)
{
    const DWORD deadline = GetTickCount() + lifetimeMs;
    SetTimer(hwnd, 1, 100, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && (GetFileAttributesW(stopFile.c_str()) != INVALID_FILE_ATTRIBUTES ||
                                        static_cast<LONG>(GetTickCount() - deadline) >= 0))
            DestroyWindow(hwnd);
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

}  // namespace tools
