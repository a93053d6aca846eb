// Writes a game package: one zip archive with minizip's zip API. Names are stored as UTF-8 with
// the UTF-8 flag (bit 11); files are deflated (empty ones and folders stored); each entry
// carries its file's modification time, as a DOS time in UTC and as an extended timestamp;
// zip64 records appear only where an entry or an offset passes 4 GiB. Nothing depends on the
// moment or the machine, so the same tree gives the same bytes.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/publish/package_tree.h"

namespace core {

struct PackProgress {
    std::uint64_t bytesDone = 0;
    std::uint64_t bytesTotal = 0;
    std::size_t entriesDone = 0;
    std::size_t entriesTotal = 0;
};

// MS-DOS date and time (local header and central record) of a UTC time; times before 1980 or
// after 2107 are clamped to the ends of the range a DOS time can hold.
unsigned long DosDateTime(std::int64_t secondsUtc);

// True when an entry of this many bytes may pass 4 GiB once deflated.
bool EntryNeedsZip64(std::uint64_t size);

// Writes entries into a new archive at path, reading each file from its source. False with a
// message naming the entry when a file cannot be read, has changed since the scan, or the
// archive cannot be written. progress is called after every block.
bool WritePackage(const std::vector<PackageEntry>& entries, const std::filesystem::path& path,
                  const std::function<void(const PackProgress&)>& progress, std::string& error);

}  // namespace core
