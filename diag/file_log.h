// The run's text log: "C:\<code>-<ditch>\<application name>.log", emptied at every start,
// one line per call, each on disk as soon as it is written. A second launcher started while
// one runs appends instead of emptying the running one's log. When the file cannot be opened
// the log stays silent until OpenOnceFoldersExist.
#pragma once
#include <cstdio>
#include <memory>
#include <string>

class CFileLog {
public:
    static CFileLog& Instance();

    // text: the message; function: "Class::Method" in the ANSI code page; line: the caller's
    // source line; level: L"INFO", L"WARN" or L"ERROR".
    void Write(const std::wstring& text, const char* function, int line, const std::wstring& level);

    // Flushes and closes the file; later writes do nothing.
    void Close();

    // The first run on a machine reaches the log before its folder exists: start-up calls
    // this once it has created the folders, so that run is logged too. Does nothing when the
    // log is open or was closed.
    void OpenOnceFoldersExist();

    // Write on the single log. The text is formed before the log is first reached, so a
    // system error code read while forming it is the caller's, not the log file's. Once
    // shutdown has begun, only the thread that began it still writes.
    static void WriteLine(const std::wstring& text, const char* function, int line, const std::wstring& level)
    {
        if (ShutdownDropsThisThread()) return;
        Instance().Write(text, function, line, level);
    }

    // From this call on, lines of every other thread are dropped: the process is shutting
    // down, and a thread that is never joined (the update thread) may still run while the
    // log itself is torn down.
    static void KeepOnlyThisThread();
    static bool ShutdownDropsThisThread();

    CFileLog(const CFileLog&) = delete;
    CFileLog& operator=(const CFileLog&) = delete;

private:
    CFileLog();
    ~CFileLog() = default;
    void Open();

    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, FileCloser> m_pFile;
    bool m_bClosed = false;
};

// Log with the calling line: LOG_INFO("CWebApp::InitInstance", L"Laucher Start").
#define LOG_INFO(function, text) CFileLog::WriteLine((text), (function), __LINE__, L"INFO")
#define LOG_ERROR(function, text) CFileLog::WriteLine((text), (function), __LINE__, L"ERROR")
