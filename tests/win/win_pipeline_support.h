// The update pipeline's pieces for Windows tests: the launcher's Windows platform with its
// log, reports and desktop steps recorded instead of carried out, and a zip writer (the Windows
// build has minizip's reader only).
#pragma once
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "update/windows_update_host.h"

namespace wintest {

class RecordingHost : public WindowsUpdateHost {
public:
    void Log(const wchar_t* level, const char*, int, const std::wstring& text) override
    {
        lines.push_back(std::wstring(level) + L":" + text);
    }
    void ReportEventCode(int code) override { reports.push_back(L"event:" + std::to_wstring(code)); }
    void ReportMessage(const std::wstring& message) override { reports.push_back(L"message:" + message); }
    void SetRegisties() override { desktop.push_back(L"SetRegisties"); }
    unsigned long CopyLauncherTo(const std::wstring& destination) override
    {
        desktop.push_back(L"CopyLauncherTo:" + destination);
        return 0;
    }
    void CreateShortcuts() override { desktop.push_back(L"CreateShortcuts"); }

    std::vector<std::wstring> lines, reports, desktop;
};

// A zip archive of stored entries, written byte by byte. Names are given as the bytes the
// archive holds; flags are the entry's general-purpose bits (0x800: the name is UTF-8).
class StoredZip {
public:
    void Add(const std::string& name, const std::string& data, unsigned flags = 0)
    {
        const auto crc = crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
        const auto offset = static_cast<std::uint32_t>(m_bytes.size());
        Header(m_bytes, 0x04034b50, false, name, data.size(), crc, 0, flags);
        m_bytes += name + data;
        Header(m_central, 0x02014b50, true, name, data.size(), crc, offset, flags);
        m_central += name;
        ++m_count;
    }
    std::string Bytes() const
    {
        std::string out = m_bytes + m_central;
        U32(out, 0x06054b50);
        U16(out, 0);
        U16(out, 0);
        U16(out, m_count);
        U16(out, m_count);
        U32(out, static_cast<std::uint32_t>(m_central.size()));
        U32(out, static_cast<std::uint32_t>(m_bytes.size()));
        U16(out, 0);
        return out;
    }

private:
    static void U16(std::string& s, unsigned v)
    {
        s += static_cast<char>(v & 0xFF);
        s += static_cast<char>((v >> 8) & 0xFF);
    }
    static void U32(std::string& s, std::uint32_t v)
    {
        U16(s, v & 0xFFFF);
        U16(s, v >> 16);
    }
    static void Header(std::string& s, std::uint32_t signature, bool central, const std::string& name,
                       std::size_t size, unsigned long crc, std::uint32_t offset, unsigned flags)
    {
        U32(s, signature);
        if (central) U16(s, 20);  // made by
        U16(s, 20);               // needed to extract
        U16(s, flags);            // sizes in the header; 0x800: UTF-8 name
        U16(s, 0);                // stored
        U16(s, 0);                // time
        U16(s, 0x21);             // date 1980-01-01
        U32(s, static_cast<std::uint32_t>(crc));
        U32(s, static_cast<std::uint32_t>(size));
        U32(s, static_cast<std::uint32_t>(size));
        U16(s, static_cast<unsigned>(name.size()));
        U16(s, 0);  // extra field
        if (central) {
            U16(s, 0);  // comment
            U16(s, 0);  // disk
            U16(s, 0);  // internal attributes
            U32(s, 0);  // external attributes
            U32(s, offset);
        }
    }

    std::string m_bytes, m_central;
    unsigned m_count = 0;
};

}  // namespace wintest
