// The update pipeline's platform in the launcher: wide-path files, the ANSI code page, the text
// log, the statistics reports and the desktop-integration steps of CGameRemoteConfig.
#pragma once
#include "core/update/update_host.h"

class WindowsUpdateHost : public core::IUpdateHost {
public:
    // The update thread is never joined and may still run while the process shuts down. From
    // this call on its log lines and reports are dropped, as the log and the report engine are
    // being torn down.
    static void StopLoggingAndReporting();

    void Log(const wchar_t* level, const char* function, int line, const std::wstring& text) override;
    void ReportEventCode(int eventCode) override;
    void ReportMessage(const std::wstring& message) override;
    std::string ToAnsi(const std::wstring& text) override;
    std::wstring FromAnsi(const std::string& bytes) override;
    std::FILE* OpenFile(const std::wstring& path, const char* mode) override;
    std::FILE* OpenFileDenyingWrites(const std::wstring& path) override;
    bool RemoveFile(const std::wstring& path) override;
    bool RenameOver(const std::wstring& from, const std::wstring& to) override;
    std::int64_t FileSize(const std::wstring& path) override;
    std::int64_t FreeBytes(const std::wstring& folder) override;
    bool MakeDirectory(const std::wstring& path) override;
    std::wstring JoinPath(const std::wstring& dir, const std::wstring& name) override;
    void* OpenArchiveStream(const std::wstring& path, zlib_filefunc64_def& functions) override;
    void ReserveFileSize(std::FILE* file, std::uint64_t size) override;
    // Under HKLM\<core::ChannelStateKeyPath>, value "AcceptedConfigSerial" (REG_QWORD).
    bool ReadAcceptedConfigSerial(std::uint64_t& serial) override;
    bool WriteAcceptedConfigSerial(std::uint64_t serial) override;
    bool IsWow64() override;
    void SetRegisties() override;
    unsigned long CopyLauncherTo(const std::wstring& destination) override;
    std::wstring RunningExecutablePath() override;
    void CreateShortcuts() override;

private:
    static bool Stopped();
};
