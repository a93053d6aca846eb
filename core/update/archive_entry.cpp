#include "core/update/archive_entry.h"

#include <cwctype>

namespace core {

namespace {

bool IsSlash(wchar_t c) { return c == L'/' || c == L'\\'; }

// Windows drops trailing dots and blanks from path parts in some of its layers, so ".. " and
// ". ." may end up meaning "..". A part made of dots and blanks with two dots or more is
// therefore treated as a way up.
bool IsParentLike(const std::wstring& part)
{
    int dots = 0;
    for (wchar_t c : part) {
        if (c == L'.')
            ++dots;
        else if (c != L' ')
            return false;
    }
    return dots >= 2;
}

// Windows opens a device for these names whatever the folder or extension ("aux.dat",
// "a/con"), so such a part would not land in the client directory as a file.
bool IsReservedDevice(const std::wstring& part)
{
    std::wstring stem = part.substr(0, part.find(L'.'));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    for (auto& c : stem) c = static_cast<wchar_t>(std::towupper(static_cast<std::wint_t>(c)));
    if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL" || stem == L"CONIN$" ||
        stem == L"CONOUT$")
        return true;
    // COM0 to COM9 and LPT0 to LPT9, and with the superscript digits 1, 2 and 3 (U+00B9,
    // U+00B2, U+00B3), which Windows reserves as well.
    if (stem.size() != 4 || (stem.compare(0, 3, L"COM") != 0 && stem.compare(0, 3, L"LPT") != 0)) return false;
    const wchar_t digit = stem[3];
    return (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3';
}

// A letter as Windows' upcase table gives it, for the scripts WindowsNameKey names.
wchar_t UpperCaseLetter(wchar_t c)
{
    const auto shift = [c](int by) { return static_cast<wchar_t>(c - by); };
    if (c >= L'a' && c <= L'z') return shift(0x20);
    if (c < 0xE0) return c;
    if (c <= 0xFE) return c == 0xF7 ? c : shift(0x20);  // U+00F7 is the division sign
    if (c == 0xFF) return 0x178;
    // Latin Extended-A: capital and small letter side by side, the capital first on an even or
    // an odd code point depending on the run.
    if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
        return c % 2 ? shift(1) : c;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return c % 2 ? c : shift(1);
    if (c == 0x3C2) return 0x3A3;  // final sigma
    if ((c >= 0x3B1 && c <= 0x3C1) || (c >= 0x3C3 && c <= 0x3CB)) return shift(0x20);
    if (c >= 0x430 && c <= 0x44F) return shift(0x20);
    if (c >= 0x450 && c <= 0x45F) return shift(0x50);
    if (c >= 0xFF41 && c <= 0xFF5A) return shift(0x20);
    return c;
}

}  // namespace

std::wstring WindowsNameKey(const std::wstring& name)
{
    std::wstring key;
    for (std::size_t start = 0; start <= name.size();) {
        std::size_t end = start;
        while (end < name.size() && !IsSlash(name[end])) ++end;
        std::size_t last = end;
        while (last > start && (name[last - 1] == L'.' || name[last - 1] == L' ')) --last;
        if (last > start) {
            if (!key.empty()) key += L'/';
            for (std::size_t i = start; i < last; ++i) key += UpperCaseLetter(name[i]);
        }
        start = end + 1;
    }
    return key;
}

EntryNameVerdict CheckEntryName(const std::wstring& name)
{
    if (name.empty()) return EntryNameVerdict::Empty;
    if (name.find(L'\0') != std::wstring::npos) return EntryNameVerdict::EmbeddedNul;
    if (IsSlash(name[0])) return EntryNameVerdict::Absolute;
    if (name.find(L':') != std::wstring::npos) return EntryNameVerdict::DriveOrStream;

    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = start;
        while (end < name.size() && !IsSlash(name[end])) ++end;
        const std::wstring part = name.substr(start, end - start);
        if (IsParentLike(part)) return EntryNameVerdict::ParentPart;
        if (IsReservedDevice(part)) return EntryNameVerdict::ReservedDevice;
        start = end + 1;
    }
    return EntryNameVerdict::Accepted;
}

const wchar_t* DescribeEntryNameVerdict(EntryNameVerdict verdict)
{
    switch (verdict) {
    case EntryNameVerdict::Accepted: return L"accepted";
    case EntryNameVerdict::Empty: return L"empty name";
    case EntryNameVerdict::EmbeddedNul: return L"NUL character in the name";
    case EntryNameVerdict::Absolute: return L"absolute path";
    case EntryNameVerdict::DriveOrStream: return L"drive letter or data stream";
    case EntryNameVerdict::ParentPart: return L"\"..\" part";
    case EntryNameVerdict::ReservedDevice: return L"device name";
    }
    return L"unknown";
}

bool IsDirectoryEntryName(const std::wstring& name) { return !name.empty() && name.back() == L'/'; }

bool IsEmptyZipArchive(const std::string& bytes)
{
    if (bytes.size() < kEndRecordBytes || bytes.compare(0, 4, "PK\x05\x06", 4) != 0) return false;
    // Disk numbers, entry counts, directory size and offset: all zero in an empty archive.
    for (std::size_t i = 4; i < 20; ++i)
        if (bytes[i] != '\0') return false;
    const std::size_t commentLength =
        static_cast<unsigned char>(bytes[20]) | (static_cast<std::size_t>(static_cast<unsigned char>(bytes[21])) << 8);
    return bytes.size() == kEndRecordBytes + commentLength;
}

bool FindUnicodePathName(const std::string& extraField, unsigned long headerNameCrc, std::string& utf8Name)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned long>(static_cast<unsigned char>(extraField[i])); };
    for (std::size_t pos = 0; pos + 4 <= extraField.size();) {
        const unsigned long id = byte(pos) | byte(pos + 1) << 8;
        const std::size_t size = byte(pos + 2) | byte(pos + 3) << 8;
        const std::size_t data = pos + 4;
        if (data + size > extraField.size()) return false;  // a field running past the end: no more fields
        if (id == 0x7075 && size >= 5 && byte(data) == 1) {
            const unsigned long crc = byte(data + 1) | byte(data + 2) << 8 | byte(data + 3) << 16 | byte(data + 4) << 24;
            if (crc == (headerNameCrc & 0xFFFFFFFFul)) {
                utf8Name = extraField.substr(data + 5, size - 5);
                return true;
            }
        }
        pos = data + size;
    }
    return false;
}

}  // namespace core
