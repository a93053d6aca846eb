#include "core/update/posix_update_host.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cstdint>
#include <cstdio>
#include <iostream>

namespace core {

void PosixUpdateHost::Log(const wchar_t* level, const char* function, int line, const std::wstring& text)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_lines.push_back({level, function, text});
    if (echoLog)
        std::cerr << "[" << WideToUtf8(level) << "][" << function << "::" << line << "] " << WideToUtf8(text) << "\n";
}

void PosixUpdateHost::ReportEventCode(int eventCode)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_reports.push_back(L"event:" + std::to_wstring(eventCode));
}

void PosixUpdateHost::ReportMessage(const std::wstring& message)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_reports.push_back(L"message:" + message);
}

std::string PosixUpdateHost::ToAnsi(const std::wstring& text) { return WideToUtf8(text); }
std::wstring PosixUpdateHost::FromAnsi(const std::string& bytes) { return Utf8ToWide(bytes); }

std::FILE* PosixUpdateHost::OpenFile(const std::wstring& path, const char* mode)
{
    return std::fopen(WideToUtf8(path).c_str(), mode);
}

bool PosixUpdateHost::RemoveFile(const std::wstring& path) { return std::remove(WideToUtf8(path).c_str()) == 0; }

bool PosixUpdateHost::RenameOver(const std::wstring& from, const std::wstring& to)
{
    return std::rename(WideToUtf8(from).c_str(), WideToUtf8(to).c_str()) == 0;
}

std::int64_t PosixUpdateHost::FileSize(const std::wstring& path)
{
    struct stat st {};
    if (stat(WideToUtf8(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

std::int64_t PosixUpdateHost::FreeBytes(const std::wstring& folder)
{
    struct statvfs fs {};
    if (statvfs(WideToUtf8(folder).c_str(), &fs) != 0) return -1;
    const unsigned long long bytes = static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize;
    return bytes > static_cast<unsigned long long>(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(bytes);
}

bool PosixUpdateHost::MakeDirectory(const std::wstring& path) { return mkdir(WideToUtf8(path).c_str(), 0755) == 0; }

std::wstring PosixUpdateHost::JoinPath(const std::wstring& dir, const std::wstring& name) { return dir + L"/" + name; }

void* PosixUpdateHost::OpenArchiveStream(const std::wstring& path, zlib_filefunc64_def& functions)
{
    fill_fopen64_filefunc(&functions);
    return functions.zopen64_file(functions.opaque, WideToUtf8(path).c_str(),
                                  ZLIB_FILEFUNC_MODE_READ | ZLIB_FILEFUNC_MODE_EXISTING);
}

void PosixUpdateHost::ReserveFileSize(std::FILE* file, std::uint64_t size)
{
    // A stream without a descriptor (a test's) has nothing to reserve.
    const int descriptor = fileno(file);
    if (descriptor >= 0) fallocate(descriptor, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size));
}

void PosixUpdateHost::SetRegisties()
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_desktop.push_back(L"SetRegisties");
}

unsigned long PosixUpdateHost::CopyLauncherTo(const std::wstring& destination)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_desktop.push_back(L"CopyLauncherTo:" + destination);
    return copyLauncherError;
}

bool PosixUpdateHost::ReadAcceptedConfigSerial(std::uint64_t& serial)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (!acceptedConfigSerial) return false;
    serial = *acceptedConfigSerial;
    return true;
}

bool PosixUpdateHost::WriteAcceptedConfigSerial(std::uint64_t serial)
{
    std::lock_guard<std::mutex> hold(m_lock);
    if (!keepsConfigSerial) return false;
    acceptedConfigSerial = serial;
    return true;
}

void PosixUpdateHost::CreateShortcuts()
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_desktop.push_back(L"CreateShortcuts");
}

std::vector<PosixUpdateHost::LogLine> PosixUpdateHost::Lines() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_lines;
}

std::vector<std::wstring> PosixUpdateHost::Reports() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_reports;
}

std::vector<std::wstring> PosixUpdateHost::DesktopSteps() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_desktop;
}

bool PosixUpdateHost::HasLine(const std::wstring& level, const std::wstring& text) const
{
    std::lock_guard<std::mutex> hold(m_lock);
    for (const auto& l : m_lines)
        if (l.level == level && l.text == text) return true;
    return false;
}

}  // namespace core
