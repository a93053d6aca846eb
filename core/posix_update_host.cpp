#include "core/posix_update_host.h"

#include <sys/stat.h>

#include <cstdio>
#include <iostream>

namespace core {

std::string WideToUtf8(const std::wstring& text)
{
    std::string out;
    for (wchar_t wc : text) {
        auto c = static_cast<std::uint32_t>(wc);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::wstring Utf8ToWide(const std::string& bytes)
{
    std::wstring out;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
        std::uint32_t c = extra == 3 ? (b & 0x07) : extra == 2 ? (b & 0x0F) : extra == 1 ? (b & 0x1F) : b;
        if (b >= 0x80 && b < 0xC0) extra = 0, c = 0xFFFD;  // stray continuation byte
        ++i;
        for (int k = 0; k < extra; ++k, ++i) {
            if (i >= bytes.size() || (static_cast<unsigned char>(bytes[i]) & 0xC0) != 0x80) {
                c = 0xFFFD;
                break;
            }
            c = (c << 6) | (static_cast<unsigned char>(bytes[i]) & 0x3F);
        }
        out += static_cast<wchar_t>(c);
    }
    return out;
}

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

std::int64_t PosixUpdateHost::FileSize(const std::wstring& path)
{
    struct stat st {};
    if (stat(WideToUtf8(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

bool PosixUpdateHost::MakeDirectory(const std::wstring& path) { return mkdir(WideToUtf8(path).c_str(), 0755) == 0; }

std::wstring PosixUpdateHost::JoinPath(const std::wstring& dir, const std::wstring& name) { return dir + L"/" + name; }

std::string PosixUpdateHost::ArchivePathArgument(const std::wstring& path) { return WideToUtf8(path); }

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
