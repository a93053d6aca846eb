#include "tests/win/win_test_support.h"

#include <algorithm>

#include "fw/app.h"
#include "fw/win_handle.h"

namespace wintest {

TempDir::TempDir(const std::wstring& name)
{
    wchar_t base[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, base);
    m_path = std::wstring(base) + L"launcher-test-" + name + L"-" + std::to_wstring(GetCurrentProcessId());
    RemoveTree(m_path);
    CreateDirectoryW(m_path.c_str(), nullptr);
}

TempDir::~TempDir() { RemoveTree(m_path); }

std::vector<std::wstring> ListFiles(const std::wstring& dir, const std::wstring& pattern)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\" + pattern).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = fd.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return names;
}

std::vector<char> ReadFileBytes(const std::wstring& path)
{
    std::vector<char> bytes;
    fw::UniqueFileHandle f(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!f) return bytes;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(f.get(), buf, sizeof buf, &got, nullptr) && got > 0) bytes.insert(bytes.end(), buf, buf + got);
    return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    fw::UniqueFileHandle f(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return f && WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

void RemoveTree(const std::wstring& path)
{
    for (const std::wstring& name : ListFiles(path, L"*")) {
        const std::wstring child = path + L"\\" + name;
        const DWORD attrs = GetFileAttributesW(child.c_str());
        if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY))
            RemoveTree(child);
        else
            DeleteFileW(child.c_str());
    }
    RemoveDirectoryW(path.c_str());
}

std::wstring HostPath(const char* unixPath)
{
    std::wstring path = L"Z:";
    for (const char* p = unixPath; *p; ++p) path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
    return path;
}

fw::UniqueHandle StartProcess(const std::wstring& commandLine)
{
    std::wstring cmd = commandLine;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return {};
    fw::UniqueHandle thread(pi.hThread);
    return fw::UniqueHandle(pi.hProcess);
}

DWORD RunSelfAsChild(const std::wstring& flag, const std::wstring& argument)
{
    fw::UniqueHandle process = StartProcess(L"\"" + fw::ModuleFileName() + L"\" " + flag + L" " + argument);
    if (!process) return 0;
    if (WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        return 0;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

bool PumpMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!done()) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return done();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 50)),
                                  QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}

void PumpMessagesFor(DWORD ms)
{
    PumpMessagesUntil([] { return false; }, ms);
}

HWND TestWindow(const wchar_t* className, WNDPROC proc, HWND parent, DWORD style)
{
    WNDCLASSW existing{};
    if (!GetClassInfoW(GetModuleHandleW(nullptr), className, &existing)) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = className;
        RegisterClassW(&wc);
    }
    return CreateWindowExW(0, className, L"", style, 0, 0, 10, 10, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
}

int PortFromEnvironment(const wchar_t* name)
{
    wchar_t value[16] = {};
    if (!GetEnvironmentVariableW(name, value, 16)) return 0;
    return _wtoi(value);
}

std::wstring LoopbackUrl(int port, const std::wstring& path)
{
    return L"http://127.0.0.1:" + std::to_wstring(port) + path;
}

}  // namespace wintest
