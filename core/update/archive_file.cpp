#include "core/update/archive_file.h"

#include <algorithm>
#include <cstring>

namespace core {

ArchiveFile::ArchiveFile(const zlib_filefunc64_def& platform, void* stream)
    : m_platform(platform), m_stream(stream), m_memory(2 * kWindowBytes)
{
    m_windows[0].bytes = m_memory.data();
    m_windows[1].bytes = m_memory.data() + kWindowBytes;
}

ArchiveFile::~ArchiveFile() { Close(); }

void ArchiveFile::Close()
{
    if (m_stream) m_platform.zclose_file(m_platform.opaque, m_stream);
    m_stream = nullptr;
}

zlib_filefunc64_def ArchiveFile::FileFunctions()
{
    zlib_filefunc64_def functions{};
    functions.zopen64_file = OpenCall;
    functions.zread_file = ReadCall;
    functions.zwrite_file = WriteCall;
    functions.ztell64_file = TellCall;
    functions.zseek64_file = SeekCall;
    functions.zclose_file = CloseCall;
    functions.zerror_file = ErrorCall;
    functions.opaque = this;
    return functions;
}

bool ArchiveFile::ReadAt(std::uint64_t offset, void* into, std::size_t size)
{
    return Read(offset, static_cast<char*>(into), size) == size;
}

std::size_t ArchiveFile::Read(std::uint64_t offset, char* into, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const std::uint64_t at = offset + done;
        const std::size_t wanted = size - done;
        Window* hit = nullptr;
        for (Window& w : m_windows)
            if (at >= w.start && at < w.start + w.size) hit = &w;
        if (hit) {
            const auto from = static_cast<std::size_t>(at - hit->start);
            const std::size_t n = std::min(wanted, hit->size - from);
            std::memcpy(into + done, hit->bytes + from, n);
            hit->lastUse = ++m_uses;
            done += n;
            continue;
        }
        if (wanted >= kWindowBytes) {
            done += PlatformRead(at, into + done, wanted);
            break;
        }
        Window& oldest = m_windows[0].lastUse <= m_windows[1].lastUse ? m_windows[0] : m_windows[1];
        oldest.start = at;
        oldest.size = PlatformRead(at, oldest.bytes, kWindowBytes);
        oldest.lastUse = ++m_uses;
        if (oldest.size == 0) break;
    }
    return done;
}

std::size_t ArchiveFile::PlatformRead(std::uint64_t offset, char* into, std::size_t size)
{
    if (!m_stream || m_failed) return 0;
    if (m_platformPosition != offset) {
        if (m_platform.zseek64_file(m_platform.opaque, m_stream, offset, ZLIB_FILEFUNC_SEEK_SET) != 0) {
            m_platformPosition = UINT64_MAX;
            m_failed = true;
            return 0;
        }
        m_platformPosition = offset;
    }
    std::size_t done = 0;
    while (done < size) {
        // uLong is 32 bits on Windows: large reads go in pieces.
        const auto piece = static_cast<uLong>(std::min<std::size_t>(size - done, 1u << 30));
        const uLong got = m_platform.zread_file(m_platform.opaque, m_stream, into + done, piece);
        done += got;
        if (got == 0) break;
    }
    m_platformPosition += done;
    return done;
}

bool ArchiveFile::Seek(std::uint64_t offset, int origin)
{
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: m_position = offset; return true;
    case ZLIB_FILEFUNC_SEEK_CUR: m_position += offset; return true;
    case ZLIB_FILEFUNC_SEEK_END:
        if (!m_stream || m_platform.zseek64_file(m_platform.opaque, m_stream, 0, ZLIB_FILEFUNC_SEEK_END) != 0) {
            m_platformPosition = UINT64_MAX;
            return false;
        }
        m_platformPosition = m_platform.ztell64_file(m_platform.opaque, m_stream);
        m_position = m_platformPosition + offset;
        return true;
    default: return false;
    }
}

// minizip opens the file once, in unzOpen2_64, and gets this object as its stream.
voidpf ZCALLBACK ArchiveFile::OpenCall(voidpf opaque, const void*, int) { return opaque; }

uLong ZCALLBACK ArchiveFile::ReadCall(voidpf, voidpf stream, void* into, uLong size)
{
    auto* file = static_cast<ArchiveFile*>(stream);
    const std::size_t got = file->Read(file->m_position, static_cast<char*>(into), size);
    file->m_position += got;
    return static_cast<uLong>(got);
}

uLong ZCALLBACK ArchiveFile::WriteCall(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK ArchiveFile::TellCall(voidpf, voidpf stream) { return static_cast<ArchiveFile*>(stream)->m_position; }

long ZCALLBACK ArchiveFile::SeekCall(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    return static_cast<ArchiveFile*>(stream)->Seek(offset, origin) ? 0 : -1;
}

int ZCALLBACK ArchiveFile::CloseCall(voidpf, voidpf stream)
{
    static_cast<ArchiveFile*>(stream)->Close();
    return 0;
}

int ZCALLBACK ArchiveFile::ErrorCall(voidpf, voidpf stream) { return static_cast<ArchiveFile*>(stream)->m_failed ? 1 : 0; }

}  // namespace core
