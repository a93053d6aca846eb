// The package file as minizip reads it: a layer of file functions over the platform's own
// (minizip's stdio ones natively, its Win32 ones with the wide path on Windows). minizip reads
// a header field by field, a few bytes a call, and seeks before every read; here those calls
// are served from two windows of the file held in memory, one usually on the central
// directory, the other on the entry being unpacked, and the platform is asked only when a
// window must be refilled or a large read passes it by. A seek costs nothing until a read
// needs the platform's position moved.
#pragma once
#include <minizip/ioapi.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace core {

class ArchiveFile {
public:
    // Bytes of each window; a read of this size or more goes straight into the caller's memory.
    static constexpr std::size_t kWindowBytes = 32 * 1024;

    // Takes over stream, opened by the platform's file functions.
    ArchiveFile(const zlib_filefunc64_def& platform, void* stream);
    ~ArchiveFile();
    ArchiveFile(const ArchiveFile&) = delete;
    ArchiveFile& operator=(const ArchiveFile&) = delete;

    // File functions for unzOpen2_64 that read this file (the path argument is not used).
    zlib_filefunc64_def FileFunctions();

    // Reads size bytes from offset, leaving minizip's position alone; false when the file ends
    // before or a read fails.
    bool ReadAt(std::uint64_t offset, void* into, std::size_t size);

private:
    struct Window {
        std::uint64_t start = 0;
        std::size_t size = 0;
        std::uint64_t lastUse = 0;
        char* bytes = nullptr;
    };

    std::size_t Read(std::uint64_t offset, char* into, std::size_t size);
    std::size_t PlatformRead(std::uint64_t offset, char* into, std::size_t size);
    bool Seek(std::uint64_t offset, int origin);
    void Close();

    static voidpf ZCALLBACK OpenCall(voidpf opaque, const void* path, int mode);
    static uLong ZCALLBACK ReadCall(voidpf opaque, voidpf stream, void* into, uLong size);
    static uLong ZCALLBACK WriteCall(voidpf opaque, voidpf stream, const void* from, uLong size);
    static ZPOS64_T ZCALLBACK TellCall(voidpf opaque, voidpf stream);
    static long ZCALLBACK SeekCall(voidpf opaque, voidpf stream, ZPOS64_T offset, int origin);
    static int ZCALLBACK CloseCall(voidpf opaque, voidpf stream);
    static int ZCALLBACK ErrorCall(voidpf opaque, voidpf stream);

    zlib_filefunc64_def m_platform;
    void* m_stream;
    std::vector<char> m_memory;
    Window m_windows[2];
    std::uint64_t m_uses = 0;
    std::uint64_t m_position = 0;                  // minizip's
    std::uint64_t m_platformPosition = UINT64_MAX;  // the platform stream's, when known
    bool m_failed = false;
};

}  // namespace core
