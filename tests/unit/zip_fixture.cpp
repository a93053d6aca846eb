#include "zip_fixture.h"

#include <gtest/gtest.h>
#include <minizip/zip.h>
#include <zlib.h>

#include <cstring>

namespace testing_support {

bool WriteZip(const std::string& path, const std::vector<ZipEntry>& entries, const char* comment)
{
    zipFile zf = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
    EXPECT_NE(zf, nullptr) << path;
    if (!zf) return false;
    bool ok = true;
    for (const auto& e : entries) {
        zip_fileinfo info{};
        const int method = e.deflate ? Z_DEFLATED : 0;
        const int level = e.deflate ? Z_DEFAULT_COMPRESSION : 0;
        int rc = zipOpenNewFileInZip4(zf, e.name.c_str(), &info, nullptr, 0,
                                      e.centralExtra.empty() ? nullptr : e.centralExtra.data(),
                                      static_cast<uInt>(e.centralExtra.size()), nullptr, method, level, e.raw ? 1 : 0,
                                      -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, 0, e.flags);
        if (rc == ZIP_OK && !e.data.empty())
            rc = zipWriteInFileInZip(zf, e.data.data(), static_cast<unsigned>(e.data.size()));
        if (rc == ZIP_OK) rc = e.raw ? zipCloseFileInZipRaw(zf, e.rawSize, e.rawCrc) : zipCloseFileInZip(zf);
        EXPECT_EQ(rc, ZIP_OK) << "entry " << e.name;
        ok = ok && rc == ZIP_OK;
    }
    const int closed = zipClose(zf, comment);
    EXPECT_EQ(closed, ZIP_OK);
    return ok && closed == ZIP_OK;
}

std::string UnicodePathField(const std::string& headerName, const std::string& utf8Name, unsigned long crcXor)
{
    const unsigned long crc = Crc32(headerName) ^ crcXor;
    const std::size_t size = 5 + utf8Name.size();
    std::string field{'\x75', '\x70', static_cast<char>(size & 0xFF), static_cast<char>(size >> 8), '\x01'};
    for (int shift = 0; shift < 32; shift += 8) field += static_cast<char>((crc >> shift) & 0xFF);
    return field + utf8Name;
}

unsigned long Crc32(const std::string& data)
{
    return crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
}

std::string RawDeflate(const std::string& data)
{
    z_stream s{};
    EXPECT_EQ(deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&s, static_cast<uLong>(data.size())), '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = reinterpret_cast<Bytef*>(&out[0]);
    s.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

std::string TextBytes(std::size_t size, unsigned seed)
{
    static const char* const kWords[] = {"launcher ", "client ", "version ", "package ", "entry\n", "zip "};
    std::string out;
    unsigned x = seed * 2654435761u + 1;
    while (out.size() < size) {
        x = x * 1103515245u + 12345u;
        out += kWords[(x >> 16) % 6];
    }
    out.resize(size);
    return out;
}

std::string NoiseBytes(std::size_t size, unsigned seed)
{
    std::string out(size, '\0');
    std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (auto& c : out) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        c = static_cast<char>(x >> 24);
    }
    return out;
}

}  // namespace testing_support
