// The manifest of a published version: every folder and file of the client as the package
// holds them, each file with its digest and the content-defined chunks it is made of. The
// launcher keeps the manifest of what it installed and plans a patch from it and the new one.
//
// Text, one record a line, fields separated by a tab (a character no published name holds):
//   launcher-manifest 1
//   folder  <path>/
//   file    <path>  <size>  <modified>  <sha256>
//   chunk   <sha256>  <size>            (the chunks of the file above, in order)
//   end     <folders>  <files>  <chunks>
// Paths are the package's entry names (UTF-8, "/" between parts); modified is in seconds since
// 1970 (UTC); digests are 64 lower-case hex digits. The same tree gives the same bytes.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace core {

struct ManifestChunk {
    std::string sha256;
    std::uint32_t size = 0;
};

struct ManifestFile {
    std::string path;
    std::uint64_t size = 0;
    std::int64_t modified = 0;
    std::string sha256;
    std::vector<ManifestChunk> chunks;
};

struct PatchManifest {
    std::vector<std::string> folders;  // each ends with "/"
    std::vector<ManifestFile> files;
};

std::string WriteManifest(const PatchManifest& manifest);

// A path as Windows compares it, for telling whether two paths are one file (A to Z fold; the
// publisher refuses names that differ only in other letters' case).
std::string ManifestPathKey(std::string_view path);

// False with the reason (naming the line) for anything but a manifest WriteManifest could have
// written: unknown records, fields missing or extra, numbers out of range, digests not in
// lower-case hex, empty or oversized chunks, chunks that do not add up to their file, a path
// with control characters, empty or "." or ".." parts, a file or folder listed twice, a path
// whose folder was not listed before it, or counts that do not match the end line. `manifest`
// is left empty then.
bool ReadManifest(std::string_view text, PatchManifest& manifest, std::string& error);

}  // namespace core
