// The game tree a studio publishes, as the entries of its package: every file and folder of
// the game folder under "<code>/", in a stable order, each name checked against what the
// launcher unpacks on a player's Windows machine. A tree the launcher would refuse, or could
// not unpack as the same files, is refused here, naming the file, before anything is written.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace core {

struct PackageEntry {
    std::string name;  // UTF-8, "/" between parts, a trailing "/" for a folder
    bool directory = false;
    std::uint64_t size = 0;     // bytes of a file
    std::int64_t modified = 0;  // seconds since 1970, UTC
    std::filesystem::path source;
};

// Where the launcher puts a package's entries on a player's machine with a C: drive
// ("C:\<code>-<channel>\client"); target paths there must fit the launcher's buffer.
std::wstring PlayerClientDir(const std::wstring& gameCode, const std::wstring& channel);

// Why the launcher would refuse, or could not create as itself, an entry of this name
// (UTF-8, as stored); empty when it unpacks as named below clientDir.
std::string EntryNameProblem(const std::string& name, const std::wstring& clientDir);

// Reads gameDir into entries: "<code>/" first, then each folder's entry before its contents,
// names within a folder in byte order of their UTF-8. False with a message naming the file
// when the tree cannot be published: a name refused by EntryNameProblem, two names that are
// one file on Windows (they differ only in letter case), something that is neither a file
// nor a folder (links included), no "<code>.exe" at the top, an unreadable folder or file.
bool ScanGameTree(const std::filesystem::path& gameDir, const std::wstring& gameCode, const std::wstring& channel,
                  std::vector<PackageEntry>& entries, std::string& error);

}  // namespace core
