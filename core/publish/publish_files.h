// Files for the publisher by std::filesystem path, on Linux and on Windows alike (wide paths
// there, so a studio's folders may have any name), and the facts about a file that go into a
// package entry.
#pragma once
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace core {

struct StdioCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using StdioFile = std::unique_ptr<std::FILE, StdioCloser>;

// fopen with a C library mode ("rb", "wb", "r+b").
std::FILE* OpenPathFile(const std::filesystem::path& path, const char* mode);

// Modification time in seconds since 1970 (UTC); false when the file cannot be examined.
bool ModificationTime(const std::filesystem::path& path, std::int64_t& seconds);

// The last part of a path as UTF-8; false when it is no well-formed text (bytes that are not
// UTF-8 on Linux, a lone surrogate on Windows), which no zip name could carry.
bool PathPartUtf8(const std::filesystem::path& part, std::string& utf8);

// The path of a UTF-8 text (a command-line argument, a name).
std::filesystem::path Utf8Path(const std::string& utf8);
std::string PathUtf8(const std::filesystem::path& path);

// Whole file as bytes; false when it cannot be read.
bool ReadFileBytes(const std::filesystem::path& path, std::string& bytes);
// Writes bytes as the whole file; false (and error set) when that fails, including at close.
bool WriteFileBytes(const std::filesystem::path& path, const std::string& bytes, std::string& error);

// Whether path is folder or lies below it, by the absolute paths as given and again with every
// link of them that exists resolved: a key reached through a link into a folder is inside it.
bool PathInside(const std::filesystem::path& path, const std::filesystem::path& folder);

// Lower-case hex SHA-256 of a file; empty when it cannot be read. progress, when given, gets
// the bytes read so far after each block.
std::string FileSha256(const std::filesystem::path& path, void (*progress)(void*, std::uint64_t) = nullptr,
                       void* progressContext = nullptr);

}  // namespace core
