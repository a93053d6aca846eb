// Unpacking the game package into the client directory, and the steps that complete an
// install after it. CGameRemoteConfig::UnzipFile and CGameRemoteConfig::OnUnzipFile are
// these functions; their log lines carry those names.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "core/update/update_context.h"

namespace core {


// Room the free-space check asks for each file on top of the bytes it adds: a drive hands out
// space in whole clusters (4 KiB on an NTFS volume of any usual size), so a file may take up to
// one cluster beyond its bytes, and its record and folder entry take a little more. Too much is
// harmless (a few MiB for a client of thousands of files); too little fails the walk half way.
constexpr std::uint64_t kUnpackSlackPerFile = 4096;

// Walks the archive and writes every entry below the client directory. First every entry's
// header is read, its name logged and checked, and the room the entries need is compared with
// the free space: an archive that fails any of this writes nothing. The room is what each file
// adds to the one of its name already there (nothing when it is not larger), plus
// kUnpackSlackPerFile. Entries whose names Windows takes for one file (letter case, either
// slash, trailing dots and blanks) are unpacked once, from the last of them; the earlier ones
// are logged at "WARN" and count as done. A name that is a file and a folder refuses the
// archive. Then the folders are made, then the files are unpacked by several threads
// (ctx.unzipWorkers), each file written whole and verified. The first entry that fails, or the
// launcher's stop (ctx.state.stop), ends the walk: files that were under way are removed,
// files finished before stay. "k/N" and k*100/N are shown for each finished entry, from this
// thread only. False on any failure: archive unreadable, an entry refused (a name that leaves
// the client directory, too long for the name buffer or the target path buffer), a
// decompression, check value or size error, a target that cannot be created or written; and
// when the launcher stopped it.
bool OnUnzipFile(UpdateContext& ctx, const std::wstring& packagePath);

// Unpacks the package and, on success, completes the install: deletes the package, writes the
// uninstall entry, copies the launcher into the install directory and creates the shortcuts
// (not when the copy fails), writes the version record, shows "更新已完成" and signals
// readiness. On failure shows "解压失败" and keeps the package; so too when the launcher stopped
// the walk, but silently. openHandle, a read handle on
// the package that the caller may hold, is closed in every outcome (before the package is
// deleted).
bool UnzipFile(UpdateContext& ctx, const std::wstring& packagePath, std::FILE* openHandle);

// Writes the configuration's "ClientVersion" as it stands (ANSI, no line end) into
// "game_client_version.txt" in the client directory; an empty file when the key is absent;
// nothing happens when the file cannot be opened.
void WriteLocalClientVersion(UpdateContext& ctx);

}  // namespace core
