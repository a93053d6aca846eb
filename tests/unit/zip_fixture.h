// Builds zip archives for the extraction tests with minizip's own writer, including broken
// ones: raw entries carry bytes and header values exactly as given, so a test can declare a
// wrong check value or size, or store a damaged deflate stream.
#pragma once
#include <string>
#include <vector>

namespace testing_support {

struct ZipEntry {
    std::string name;
    std::string data;
    bool deflate = true;
    // Raw: data goes into the archive as the entry's stored bytes (method 0) or deflate stream
    // (method 8), with rawCrc and rawSize written as the check value and uncompressed size in
    // both headers.
    bool raw = false;
    unsigned long rawCrc = 0;
    unsigned long rawSize = 0;
    // General-purpose flag bits to set (bit 11: the name is UTF-8) and the central directory's
    // extra field, for the name encodings packers use.
    unsigned long flags = 0;
    std::string centralExtra{};
};

// An Info-ZIP Unicode Path extra field (0x7075) for a header name, carrying utf8Name.
std::string UnicodePathField(const std::string& headerName, const std::string& utf8Name, unsigned long crcXor = 0);

// Writes the archive (with a global comment when given); fails the current test (and returns
// false) when minizip refuses.
bool WriteZip(const std::string& path, const std::vector<ZipEntry>& entries, const char* comment = nullptr);

unsigned long Crc32(const std::string& data);
// A raw deflate stream (no zlib header), as a zip entry holds it.
std::string RawDeflate(const std::string& data);
// Deterministic bytes: text-like (compresses well) or noise (does not).
std::string TextBytes(std::size_t size, unsigned seed);
std::string NoiseBytes(std::size_t size, unsigned seed);

}  // namespace testing_support
