// What the portable update pipeline needs from the platform it runs on: files by wide path,
// the ANSI code page, the log, reports, and the desktop-integration steps. The launcher's
// Windows host implements it with Win32; the native tests and benchmarks use a POSIX host.
// The package walk's threads call Log, FromAnsi, ToAnsi, OpenArchiveStream, OpenFile,
// ReserveFileSize, RemoveFile and JoinPath at the same time as the update thread: those must be thread-safe.
#pragma once
#include <minizip/ioapi.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace core {

class IUpdateHost {
public:
    virtual ~IUpdateHost() = default;

    // The text log: level L"INFO", L"WARN" or L"ERROR", function "Class::Method", the caller's line.
    virtual void Log(const wchar_t* level, const char* function, int line, const std::wstring& text) = 0;
    // Reports to the statistics server.
    virtual void ReportEventCode(int eventCode) = 0;
    virtual void ReportMessage(const std::wstring& message) = 0;

    // Text crossing between wide strings and bytes in the thread's ANSI code page.
    virtual std::string ToAnsi(const std::wstring& text) = 0;
    virtual std::wstring FromAnsi(const std::string& bytes) = 0;

    // Files by wide path, with C library modes ("rb", "ab", "wb", "r", "w").
    virtual std::FILE* OpenFile(const std::wstring& path, const char* mode) = 0;
    // Opens a file for reading ("rb") so that while the handle is open no other handle may write,
    // rename or delete it (Windows: shared for reading only), so bytes checked through it are
    // the bytes read by any handle opened on its path before it is closed. Where the system
    // has no such mode, a plain read handle. Null when the file cannot be opened so.
    virtual std::FILE* OpenFileDenyingWrites(const std::wstring& path) = 0;
    virtual bool RemoveFile(const std::wstring& path) = 0;
    // Puts from in the place of to in one step (to may exist); false when that fails.
    virtual bool RenameOver(const std::wstring& from, const std::wstring& to) = 0;
    // -1 when the file does not exist or cannot be measured.
    virtual std::int64_t FileSize(const std::wstring& path) = 0;
    // Bytes the caller may still write on the drive that holds folder; -1 when unknown.
    virtual std::int64_t FreeBytes(const std::wstring& folder) = 0;
    // Creates one directory level; false when it exists already or cannot be created.
    virtual bool MakeDirectory(const std::wstring& path) = 0;
    // "<dir><separator><name>"; entry names keep their forward slashes.
    virtual std::wstring JoinPath(const std::wstring& dir, const std::wstring& name) = 0;
    // Opens the package for reading with minizip's file functions of this platform (which it
    // fills in): its stdio ones natively, its Win32 ones with the wide path on Windows. Their
    // stream, or null when the file cannot be opened.
    virtual void* OpenArchiveStream(const std::wstring& path, zlib_filefunc64_def& functions) = 0;
    // Asks the file system for room for size bytes in a file about to be written, without
    // changing its length; a file system that cannot does not matter.
    virtual void ReserveFileSize(std::FILE* file, std::uint64_t size) = 0;

    // The highest serial of a signed configuration the launcher has accepted for its profile,
    // kept where a process without administrator rights cannot lower it (Windows: HKLM).
    // Read: false when none is kept. Write: false when it cannot be kept.
    virtual bool ReadAcceptedConfigSerial(std::uint64_t& serial) = 0;
    virtual bool WriteAcceptedConfigSerial(std::uint64_t serial) = 0;

    // True on 64-bit Windows.
    virtual bool IsWow64() = 0;

    // Desktop integration after an install or with a current client.
    virtual void SetRegisties() = 0;
    // Copies the running launcher to the launcher copy path; 0 or the system error code.
    virtual unsigned long CopyLauncherTo(const std::wstring& destination) = 0;
    virtual std::wstring RunningExecutablePath() = 0;
    virtual void CreateShortcuts() = 0;
};

}  // namespace core
