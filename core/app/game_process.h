// Recognising the game among the running processes without mistaking the launcher for it:
// the installed launcher copy is also called "<code>.exe", but lives in the install directory,
// while the game runs from the game directory below the client directory.
#pragma once
#include <cstdint>
#include <string>

namespace core {

struct ProcessEntry {
    std::uint32_t pid = 0;
    std::wstring exeFileName;    // as the process list reports it, e.g. "qorn.exe"
    std::wstring imagePath;      // full path of the executable, empty when it cannot be read
    bool imagePathKnown = false;
};

// True when the entry is the game: its file name equals the game executable's name exactly
// (case-sensitive), it is not this process, and its image is the game executable (compared
// without regard to case, as Windows paths are). A process with the game's name whose path
// cannot be read counts as the game: starting the launcher over a running game is the worse
// mistake.
bool IsGameProcess(const ProcessEntry& entry, std::uint32_t selfPid, const std::wstring& gameExeName,
                   const std::wstring& gameExePath);

// Windows-style path equality: case-insensitive, "/" and "\" alike.
bool SameWindowsPath(const std::wstring& a, const std::wstring& b);

}  // namespace core
