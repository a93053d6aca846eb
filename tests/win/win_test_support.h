// Small helpers shared by the Windows tests.
#pragma once
#include <windows.h>
#include <ole2.h>

#include <functional>
#include <string>
#include <vector>

#include "fw/win_handle.h"

namespace wintest {

// A fresh directory below the temp folder, removed with its files at the end of the test.
class TempDir {
public:
    explicit TempDir(const std::wstring& name);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& path() const { return m_path; }

private:
    std::wstring m_path;
};

// File names (not paths) in a directory matching a wildcard pattern.
std::vector<std::wstring> ListFiles(const std::wstring& dir, const std::wstring& pattern);
std::vector<char> ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
void RemoveTree(const std::wstring& path);

// A path of the machine Wine runs on, as Windows programs in the prefix reach it (drive Z:).
std::wstring HostPath(const char* unixPath);

// Starts a program (a full command line); an empty handle when it could not start.
fw::UniqueHandle StartProcess(const std::wstring& commandLine);

// Runs this test program again as a child in the mode named by flag (see win_test_main.cpp)
// with one argument (passed as it stands: quote it where it may hold blanks); returns its exit code, or 0 when it could not run or did not end
// within a minute.
DWORD RunSelfAsChild(const std::wstring& flag, const std::wstring& argument);

// Serves this thread's messages until done() holds or timeoutMs have passed; returns done().
bool PumpMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs);

// Serves this thread's messages for a while.
void PumpMessagesFor(DWORD ms);

// OLE (and with it the single-threaded COM apartment) for this thread while it lives, as the
// launcher's window thread has it: the browser control and the desktop shell need it.
class OleApartment {
public:
    OleApartment() { ::OleInitialize(nullptr); }
    ~OleApartment() { ::OleUninitialize(); }
    OleApartment(const OleApartment&) = delete;
    OleApartment& operator=(const OleApartment&) = delete;
};

// A window of a class of its own whose messages go to proc (the class is registered once).
HWND TestWindow(const wchar_t* className, WNDPROC proc, HWND parent, DWORD style);

// A port number from the environment (set by run_with_test_servers.py); 0 when absent.
int PortFromEnvironment(const wchar_t* name);

// "http://127.0.0.1:<port><path>"
std::wstring LoopbackUrl(int port, const std::wstring& path);

}  // namespace wintest
