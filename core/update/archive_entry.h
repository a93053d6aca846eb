// Rules for the entry names of a game package. The package comes from the network, so every
// name is checked before it becomes a path: it must stay inside the client directory on
// Windows (where both slashes separate folders and a ":" names a drive or a data stream) as
// well as on the POSIX host the tests run on, and it must fit the fixed buffers of the walk.
#pragma once
#include <cstddef>
#include <string>

namespace core {

// The walk reads an entry name into this many bytes; a name must be shorter to arrive whole.
constexpr std::size_t kEntryNameBufferBytes = 512;
// Target paths (client directory, separator, entry name) are limited to this many characters
// including the terminator.
constexpr std::size_t kTargetPathBufferChars = 520;

enum class EntryNameVerdict {
    Accepted,
    Empty,
    EmbeddedNul,      // the name would be cut short at the NUL into a different name
    Absolute,         // "/x", "\x", "\\server\share", "//server/share"
    DriveOrStream,    // any ":" — "C:x", "C:\x", "file:stream"
    ParentPart,       // a ".." part in either slash direction (also ".. " and ". ." forms)
    ReservedDevice,   // CON, NUL, COM1, … — a device on Windows, not a file
};

// Checks a name (already converted to a wide string) as a path relative to the client
// directory.
EntryNameVerdict CheckEntryName(const std::wstring& name);

// Why a name was refused, for the log.
const wchar_t* DescribeEntryNameVerdict(EntryNameVerdict verdict);

// A directory entry's name ends with "/".
bool IsDirectoryEntryName(const std::wstring& name);

// The name as Windows compares it, so that two names with the same key are one file or folder
// there: both slashes separate parts, trailing dots and blanks of each part are dropped (as
// Win32 path normalisation drops them), parts left empty ("a//b", "./a") vanish, and letters
// compare without their case. Parts are joined by "/". Folding covers the letters of Latin,
// Greek, Cyrillic and fullwidth Latin; the Chinese and Japanese scripts have no case.
std::wstring WindowsNameKey(const std::wstring& name);

// Byte length of a name as stored in the archive.
inline bool EntryNameFits(std::size_t nameBytes) { return nameBytes < kEntryNameBufferBytes; }
inline bool TargetPathFits(const std::wstring& path) { return path.size() < kTargetPathBufferChars; }

// Bit 11 of an entry's general-purpose flag: its name (and comment) are UTF-8.
constexpr unsigned long kUtf8NameFlag = 0x800;

// The Info-ZIP Unicode Path extra field (header ID 0x7075): version 1, the CRC-32 of the
// name as stored in the header, then that name in UTF-8. True with the UTF-8 name when
// extraField holds one whose CRC matches headerNameCrc; a field written for another name
// (the header name was changed afterwards) does not count.
bool FindUnicodePathName(const std::string& extraField, unsigned long headerNameCrc, std::string& utf8Name);

// An archive without entries is nothing but the 22-byte end record (plus its comment).
// minizip searches for that record everywhere except at the file's first byte, so it cannot
// open such an archive; the walk recognises it with this check instead.
constexpr std::size_t kEndRecordBytes = 22;
constexpr std::size_t kMaxEmptyArchiveBytes = kEndRecordBytes + 0xFFFF;
bool IsEmptyZipArchive(const std::string& bytes);

}  // namespace core
