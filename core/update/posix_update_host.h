// The update pipeline's platform on Linux, for the native tests and benchmarks: plain files
// with UTF-8 paths ("ANSI" is UTF-8 here), and every log line, report and desktop step
// recorded in memory so tests can look at them.
#pragma once
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/update/update_host.h"
#include "core/text/utf8_text.h"  // its users convert paths with it

namespace core {

class PosixUpdateHost : public IUpdateHost {
public:
    struct LogLine {
        std::wstring level;
        std::string function;
        std::wstring text;
    };

    void Log(const wchar_t* level, const char* function, int line, const std::wstring& text) override;
    void ReportEventCode(int eventCode) override;
    void ReportMessage(const std::wstring& message) override;
    std::string ToAnsi(const std::wstring& text) override;
    std::wstring FromAnsi(const std::string& bytes) override;
    std::FILE* OpenFile(const std::wstring& path, const char* mode) override;
    // POSIX has no open that keeps others from writing: a plain read handle.
    std::FILE* OpenFileDenyingWrites(const std::wstring& path) override { return OpenFile(path, "rb"); }
    bool RemoveFile(const std::wstring& path) override;
    bool RenameOver(const std::wstring& from, const std::wstring& to) override;
    std::int64_t FileSize(const std::wstring& path) override;
    std::int64_t FreeBytes(const std::wstring& folder) override;
    bool MakeDirectory(const std::wstring& path) override;
    std::wstring JoinPath(const std::wstring& dir, const std::wstring& name) override;
    void* OpenArchiveStream(const std::wstring& path, zlib_filefunc64_def& functions) override;
    void ReserveFileSize(std::FILE* file, std::uint64_t size) override;
    bool ReadAcceptedConfigSerial(std::uint64_t& serial) override;
    bool WriteAcceptedConfigSerial(std::uint64_t serial) override;
    bool IsWow64() override { return wow64; }
    void SetRegisties() override;
    unsigned long CopyLauncherTo(const std::wstring& destination) override;
    std::wstring RunningExecutablePath() override { return runningExecutable; }
    void CreateShortcuts() override;

    // What happened, in order.
    std::vector<LogLine> Lines() const;
    std::vector<std::wstring> Reports() const;  // "event:<code>" or "message:<text>"
    std::vector<std::wstring> DesktopSteps() const;  // "SetRegisties", "CopyLauncherTo:<path>", "CreateShortcuts"
    bool HasLine(const std::wstring& level, const std::wstring& text) const;

    bool wow64 = true;
    bool echoLog = false;
    std::wstring runningExecutable = L"/launcher/Vantorra.exe";
    unsigned long copyLauncherError = 0;  // what CopyLauncherTo returns
    // The accepted serial, in memory: none, or what a test or an accepted document put there.
    std::optional<std::uint64_t> acceptedConfigSerial;
    bool keepsConfigSerial = true;  // false: WriteAcceptedConfigSerial fails

private:
    mutable std::mutex m_lock;
    std::vector<LogLine> m_lines;
    std::vector<std::wstring> m_reports;
    std::vector<std::wstring> m_desktop;
};

}  // namespace core
