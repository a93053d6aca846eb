#include "update/windows_update_host.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <minizip/iowin32.h>

#include <atomic>
#include <cstdint>

#include "core/profile/profile.h"
#include "core/profile/profile_names.h"
#include "fw/win_handle.h"
#include "diag/file_log.h"
#include "diag/system_info.h"
#include "diag/web_logger.h"
#include "fw/text.h"
#include "update/game_remote_config.h"

namespace {
// Trivially destructible, so it can still be read while static objects are destroyed.
std::atomic<bool> g_bStopped{false};
}  // namespace

void WindowsUpdateHost::StopLoggingAndReporting()
{
    g_bStopped.store(true);
    // The desktop steps and the show-window message log directly from the update thread.
    CFileLog::KeepOnlyThisThread();
}

bool WindowsUpdateHost::Stopped() { return g_bStopped.load(); }

void WindowsUpdateHost::Log(const wchar_t* level, const char* function, int line, const std::wstring& text)
{
    if (!Stopped()) CFileLog::WriteLine(text, function, line, level);
}

void WindowsUpdateHost::ReportEventCode(int eventCode)
{
    if (!Stopped()) WebLogger::Instance().LogEvent(eventCode);
}

void WindowsUpdateHost::ReportMessage(const std::wstring& message)
{
    if (!Stopped()) WebLogger::Instance().Log(message);
}

std::string WindowsUpdateHost::ToAnsi(const std::wstring& text) { return fw::WideToAnsi(text); }

std::wstring WindowsUpdateHost::FromAnsi(const std::string& bytes) { return fw::AnsiToWide(bytes); }

std::FILE* WindowsUpdateHost::OpenFile(const std::wstring& path, const char* mode)
{
    return ::_wfopen(path.c_str(), fw::AnsiToWide(mode).c_str());
}

std::FILE* WindowsUpdateHost::OpenFileDenyingWrites(const std::wstring& path)
{
    // Shared for reading only: while this handle is open, no handle may be opened to write the
    // file, and none to rename or delete it (that needs FILE_SHARE_DELETE), so the name keeps
    // naming these bytes. An open that already writes it makes this one fail.
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(file);
        return nullptr;
    }
    std::FILE* stream = ::_fdopen(fd, "rb");
    if (!stream) ::_close(fd);  // closes the handle too
    return stream;
}

bool WindowsUpdateHost::RemoveFile(const std::wstring& path) { return ::DeleteFileW(path.c_str()) != FALSE; }

bool WindowsUpdateHost::RenameOver(const std::wstring& from, const std::wstring& to)
{
    return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

std::int64_t WindowsUpdateHost::FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return -1;
    return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::int64_t WindowsUpdateHost::FreeBytes(const std::wstring& folder)
{
    // What this user may still write there, quotas included.
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return -1;
    return available.QuadPart > static_cast<ULONGLONG>(INT64_MAX) ? INT64_MAX
                                                                   : static_cast<std::int64_t>(available.QuadPart);
}

bool WindowsUpdateHost::MakeDirectory(const std::wstring& path) { return ::CreateDirectoryW(path.c_str(), nullptr) != FALSE; }

std::wstring WindowsUpdateHost::JoinPath(const std::wstring& dir, const std::wstring& name) { return dir + L"\\" + name; }

void* WindowsUpdateHost::OpenArchiveStream(const std::wstring& path, zlib_filefunc64_def& functions)
{
    fill_win32_filefunc64W(&functions);
    return functions.zopen64_file(functions.opaque, path.c_str(), ZLIB_FILEFUNC_MODE_READ | ZLIB_FILEFUNC_MODE_EXISTING);
}

void WindowsUpdateHost::ReserveFileSize(std::FILE* file, std::uint64_t size)
{
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
    if (handle == INVALID_HANDLE_VALUE) return;
    FILE_ALLOCATION_INFO allocation{};
    allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
    ::SetFileInformationByHandle(handle, FileAllocationInfo, &allocation, sizeof allocation);
}

namespace {
const wchar_t kAcceptedSerialValue[] = L"AcceptedConfigSerial";
}

bool WindowsUpdateHost::ReadAcceptedConfigSerial(std::uint64_t& serial)
{
    ULONGLONG value = 0;
    DWORD size = sizeof value, type = 0;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, core::ChannelStateKeyPath(GAME_CODE, DITCH_CODE).c_str(), kAcceptedSerialValue,
                       RRF_RT_REG_QWORD, &type, &value, &size) != ERROR_SUCCESS)
        return false;
    serial = value;
    return true;
}

bool WindowsUpdateHost::WriteAcceptedConfigSerial(std::uint64_t serial)
{
    // The launcher runs elevated; HKLM's keys let other users read them, and only
    // administrators write them, so no unelevated process can lower the serial.
    fw::UniqueRegKey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, core::ChannelStateKeyPath(GAME_CODE, DITCH_CODE).c_str(), 0, nullptr, 0,
                          KEY_SET_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    const ULONGLONG value = serial;
    return ::RegSetValueExW(key.get(), kAcceptedSerialValue, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&value),
                            sizeof value) == ERROR_SUCCESS;
}

bool WindowsUpdateHost::IsWow64() { return CSystemInfo::IsWow64(); }

void WindowsUpdateHost::SetRegisties() { CGameRemoteConfig::Instance().SetRegisties(); }

unsigned long WindowsUpdateHost::CopyLauncherTo(const std::wstring& destination)
{
    return ::CopyFileW(RunningExecutablePath().c_str(), destination.c_str(), FALSE) ? 0 : ::GetLastError();
}

std::wstring WindowsUpdateHost::RunningExecutablePath()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

void WindowsUpdateHost::CreateShortcuts() { CGameRemoteConfig::Instance().CreateShortcuts(); }
