// uidriver: looks at and acts on the windows of a Wine prefix the way a player would, for the
// end-to-end tests.
//
//   uidriver list                                   every top-level window as one JSON line (caption,
//                                                   owner, screen rectangle, children with id and rectangle)
//   uidriver click <caption> <button text>          press a button of a window
//   uidriver click-id <caption> <control id>        press a control of a window or of a window it owns
//   uidriver hide-id <caption> <control id>         hide such a control
//   uidriver clip-set <text>                        put text on the clipboard
//   uidriver key <caption> <virtual key code>       press and release a key in a window
//   uidriver close <caption>                        ask a window to close (WM_CLOSE); a hidden one
//                                                   when no visible window has the caption
//   uidriver click-at <x> <y> [right]               a real mouse click at a screen point
//   uidriver keys <stroke>...                       real key strokes: 0x41, ctrl+0x4e, ...
//   uidriver lock <path> <ms>                       hold a file open, unshared, for ms milliseconds
//   uidriver wait <caption> [gone] [timeout ms]     wait for a visible window to appear or go
//
// <caption> matches a visible top-level window's caption exactly. Output is UTF-8. Exit code
// 0 on success, 1 when the window or button was not found in time, 2 for a usage error.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "tools/common/tool_support.h"

namespace {

std::wstring WindowText(HWND hwnd)
{
    wchar_t buf[1024] = {};
    // WM_GETTEXT reaches controls of other processes, where GetWindowText would not.
    SendMessageTimeoutW(hwnd, WM_GETTEXT, sizeof buf / sizeof buf[0], reinterpret_cast<LPARAM>(buf),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
    return buf;
}

std::wstring ClassName(HWND hwnd)
{
    wchar_t buf[256] = {};
    GetClassNameW(hwnd, buf, 256);
    return buf;
}

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM lp)
{
    reinterpret_cast<std::vector<HWND>*>(lp)->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> TopLevelWindows()
{
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::vector<HWND> ChildWindows(HWND parent)
{
    std::vector<HWND> children;
    EnumChildWindows(parent, CollectWindow, reinterpret_cast<LPARAM>(&children));
    return children;
}

HWND FindVisibleWindow(const std::wstring& caption)
{
    for (HWND hwnd : TopLevelWindows())
        if (IsWindowVisible(hwnd) && WindowText(hwnd) == caption) return hwnd;
    return nullptr;
}

// Button text without its mnemonic ampersands ("&OK" matches "OK").
std::wstring WithoutMnemonics(const std::wstring& text)
{
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&' && i + 1 < text.size()) ++i;
        out += text[i];
    }
    return out;
}

std::string RectJson(HWND hwnd)
{
    RECT r{};
    GetWindowRect(hwnd, &r);
    return "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom) + "]";
}

int List()
{
    for (HWND hwnd : TopLevelWindows()) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        std::string line = "{\"hwnd\":" + std::to_string(reinterpret_cast<UINT_PTR>(hwnd)) +
                           ",\"pid\":" + std::to_string(pid) + ",\"caption\":" + tools::JsonString(WindowText(hwnd)) +
                           ",\"class\":" + tools::JsonString(ClassName(hwnd)) +
                           ",\"owner\":" + std::to_string(reinterpret_cast<UINT_PTR>(GetWindow(hwnd, GW_OWNER))) +
                           ",\"visible\":" + (IsWindowVisible(hwnd) ? "true" : "false") + ",\"rect\":" + RectJson(hwnd) +
                           ",\"children\":[";
        bool first = true;
        for (HWND child : ChildWindows(hwnd)) {
            if (!first) line += ",";
            first = false;
            line += "{\"class\":" + tools::JsonString(ClassName(child)) + ",\"text\":" + tools::JsonString(WindowText(child)) +
                    ",\"id\":" + std::to_string(GetDlgCtrlID(child)) +
                    ",\"visible\":" + (IsWindowVisible(child) ? "true" : "false") + ",\"rect\":" + RectJson(child) + "}";
        }
        line += "]}\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    return 0;
}

// A message box may carry its application's name, like the application's own window: every
// visible window with the caption is searched for the button.
int Click(const std::wstring& caption, const std::wstring& button)
{
    for (HWND hwnd : TopLevelWindows()) {
        if (!IsWindowVisible(hwnd) || WindowText(hwnd) != caption) continue;
        for (HWND child : ChildWindows(hwnd)) {
            if (ClassName(child) == L"Button" && WithoutMnemonics(WindowText(child)) == WithoutMnemonics(button)) {
                // Posted, so a button that ends a modal loop does not block us.
                PostMessageW(child, BM_CLICK, 0, 0);
                return 0;
            }
        }
    }
    return 1;
}

// Picture buttons have no text: controls are found by id, also in the captionless windows
// that the captioned one owns.
HWND FindControl(const std::wstring& caption, int id)
{
    HWND owner = FindVisibleWindow(caption);
    if (!owner) return nullptr;
    std::vector<HWND> candidates{owner};
    for (HWND hwnd : TopLevelWindows())
        if (GetWindow(hwnd, GW_OWNER) == owner) candidates.push_back(hwnd);
    for (HWND window : candidates)
        if (HWND control = GetDlgItem(window, id)) return control;
    return nullptr;
}

int ClickId(const std::wstring& caption, int id)
{
    HWND control = FindControl(caption, id);
    if (!control) return 1;
    PostMessageW(control, BM_CLICK, 0, 0);
    return 0;
}

int HideId(const std::wstring& caption, int id)
{
    HWND control = FindControl(caption, id);
    if (!control) return 1;
    ShowWindowAsync(control, SW_HIDE);
    return 0;
}

int ClipSet(const std::wstring& text)
{
    if (!OpenClipboard(nullptr)) return 1;
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    if (auto* copy = memory ? static_cast<wchar_t*>(GlobalLock(memory)) : nullptr) {
        std::wmemcpy(copy, text.c_str(), text.size() + 1);
        GlobalUnlock(memory);
        SetClipboardData(CF_UNICODETEXT, memory);
    }
    CloseClipboard();
    return memory ? 0 : 1;
}

int Key(const std::wstring& caption, UINT vk)
{
    HWND hwnd = FindVisibleWindow(caption);
    if (!hwnd) return 1;
    HWND target = hwnd;
    const std::vector<HWND> children = ChildWindows(hwnd);
    // Dialog keys are read from the message of the control that has the focus; any child of
    // the dialog serves, as the dialog manager looks at the message's window and its parent.
    if (!children.empty()) target = children.front();
    PostMessageW(target, WM_KEYDOWN, vk, 1);
    PostMessageW(target, WM_KEYUP, vk, 0xC0000001);
    return 0;
}

// Real input, as from the mouse and keyboard: the system's key state changes with it, which
// posted messages leave alone.
void SendInputs(std::vector<INPUT>& inputs, DWORD gapMs = 30)
{
    for (INPUT& input : inputs) {
        SendInput(1, &input, sizeof input);
        Sleep(gapMs);
    }
}

INPUT KeyInput(WORD vk, bool up)
{
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

// A left (or right) click at a point of the screen.
int ClickAt(int x, int y, bool right)
{
    SetCursorPos(x, y);
    Sleep(50);
    std::vector<INPUT> inputs(2);
    for (INPUT& input : inputs) input.type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
    inputs[1].mi.dwFlags = right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
    SendInputs(inputs);
    return 0;
}

// One notch of the mouse wheel (towards the user) at a point of the screen, with Ctrl held
// when asked.
int WheelAt(int x, int y, bool ctrl)
{
    SetCursorPos(x, y);
    Sleep(50);
    std::vector<INPUT> inputs;
    if (ctrl) inputs.push_back(KeyInput(VK_CONTROL, false));
    INPUT wheel{};
    wheel.type = INPUT_MOUSE;
    wheel.mi.dwFlags = MOUSEEVENTF_WHEEL;
    wheel.mi.mouseData = static_cast<DWORD>(-WHEEL_DELTA);
    inputs.push_back(wheel);
    if (ctrl) inputs.push_back(KeyInput(VK_CONTROL, true));
    SendInputs(inputs, 150);
    return 0;
}

// Key strokes such as 0x41 or ctrl+0x4e: the parts of a stroke go down in order and up in
// reverse order.
int Keys(int count, wchar_t** strokes)
{
    for (int i = 0; i < count; ++i) {
        std::vector<WORD> parts;
        std::wstring stroke = strokes[i];
        for (size_t start = 0; start <= stroke.size();) {
            const size_t plus = stroke.find(L'+', start);
            const std::wstring part = stroke.substr(start, plus == std::wstring::npos ? std::wstring::npos : plus - start);
            parts.push_back(part == L"ctrl"    ? VK_CONTROL
                            : part == L"shift" ? VK_SHIFT
                                               : static_cast<WORD>(std::wcstoul(part.c_str(), nullptr, 0)));
            if (plus == std::wstring::npos) break;
            start = plus + 1;
        }
        std::vector<INPUT> down, up;
        for (WORD vk : parts) down.push_back(KeyInput(vk, false));
        for (auto vk = parts.rbegin(); vk != parts.rend(); ++vk) up.push_back(KeyInput(*vk, true));
        // Pressed and held as a person does: a program that reads the keys' physical state
        // while it handles the stroke finds them down, however busy it is (and Wine answers
        // such reads from a cache that is 50 ms old at most).
        SendInputs(down, 150);
        Sleep(300);
        SendInputs(up);
    }
    return 0;
}

// Holds a file open, shared with nobody, for a while: a file "in use" for the program under test.
int Lock(const std::wstring& path, DWORD ms)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    std::puts("locked");
    std::fflush(stdout);
    Sleep(ms);
    CloseHandle(file);
    return 0;
}

int Close(const std::wstring& caption)
{
    HWND hwnd = FindVisibleWindow(caption);
    for (HWND candidate : TopLevelWindows())
        if (!hwnd && WindowText(candidate) == caption) hwnd = candidate;
    if (!hwnd) return 1;
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
    return 0;
}

int Wait(const std::wstring& caption, bool gone, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        if ((FindVisibleWindow(caption) != nullptr) != gone) return 0;
        if (GetTickCount() - start >= timeoutMs) return 1;
        // Fine enough to time a window's appearance (the start-up benchmark waits with it).
        Sleep(10);
    }
}

int Usage()
{
    std::fputs("usage: uidriver list | click CAPTION BUTTON | click-id CAPTION ID | key CAPTION VK | close CAPTION |"
                " wait CAPTION [gone] [TIMEOUT_MS] | click-at X Y [right] | wheel-at X Y [ctrl] | keys STROKE... |"
               " lock PATH MS | hide-id CAPTION ID | clip-set TEXT\n",
               stderr);
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) return Usage();
    const std::wstring cmd = argv[1];
    if (cmd == L"list" && argc == 2) return List();
    if (cmd == L"click" && argc == 4) return Click(argv[2], argv[3]);
    if (cmd == L"click-id" && argc == 4) return ClickId(argv[2], static_cast<int>(std::wcstol(argv[3], nullptr, 0)));
    if (cmd == L"hide-id" && argc == 4) return HideId(argv[2], static_cast<int>(std::wcstol(argv[3], nullptr, 0)));
    if (cmd == L"clip-set" && argc == 3) return ClipSet(argv[2]);
    if (cmd == L"key" && argc == 4) return Key(argv[2], static_cast<UINT>(std::wcstoul(argv[3], nullptr, 0)));
    if (cmd == L"close" && argc == 3) return Close(argv[2]);
    if (cmd == L"click-at" && (argc == 4 || argc == 5))
        return ClickAt(std::wcstol(argv[2], nullptr, 10), std::wcstol(argv[3], nullptr, 10),
                       argc == 5 && std::wstring(argv[4]) == L"right");
    if (cmd == L"keys" && argc >= 3) return Keys(argc - 2, argv + 2);
    if (cmd == L"wheel-at" && (argc == 4 || argc == 5))
        return WheelAt(std::wcstol(argv[2], nullptr, 10), std::wcstol(argv[3], nullptr, 10),
                       argc == 5 && std::wstring(argv[4]) == L"ctrl");
    if (cmd == L"lock" && argc == 4) return Lock(argv[2], static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)));
    if (cmd == L"wait" && argc >= 3 && argc <= 5) {
        bool gone = false;
        DWORD timeout = 10000;
        for (int i = 3; i < argc; ++i) {
            if (std::wstring(argv[i]) == L"gone")
                gone = true;
            else
                timeout = static_cast<DWORD>(std::wcstoul(argv[i], nullptr, 10));
        }
        return Wait(argv[2], gone, timeout);
    }
    return Usage();
}
