// The run's text log: "C:\<code>-<ditch>\<application name>.log", emptied at every start,
// one line per call. When the file cannot be opened the log stays silent for the whole run.
#pragma once
#include <cstdio>
#include <memory>
#include <string>

class CFileLog {
public:
    static CFileLog& Instance();

    // text: the message; function: "Class::Method" in the ANSI code page; line: the caller's
    // source line; level: L"INFO" or L"ERROR".
    void Write(const std::wstring& text, const char* function, int line, const std::wstring& level);

    // Flushes and closes the file; later writes do nothing.
    void Close();

    // Write on the single log. The text is formed before the log is first reached, so a
    // system error code read while forming it is the caller's, not the log file's.
    static void WriteLine(const std::wstring& text, const char* function, int line, const std::wstring& level)
    {
        Instance().Write(text, function, line, level);
    }

    CFileLog(const CFileLog&) = delete;
    CFileLog& operator=(const CFileLog&) = delete;

private:
    CFileLog();
    ~CFileLog() = default;

    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, FileCloser> m_pFile;
};

// Log with the calling line: LOG_INFO("CWebApp::InitInstance", L"Laucher Start").
#define LOG_INFO(function, text) CFileLog::WriteLine((text), (function), __LINE__, L"INFO")
#define LOG_ERROR(function, text) CFileLog::WriteLine((text), (function), __LINE__, L"ERROR")
