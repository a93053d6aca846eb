#include "core/update/entry_copy.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace core {

namespace {

// The archive's current entry, opened raw (minizip finds its data and inflates nothing); closed
// on every way out.
class OpenEntry {
public:
    explicit OpenEntry(unzFile archive) : m_archive(archive) {}
    OpenEntry(const OpenEntry&) = delete;
    OpenEntry& operator=(const OpenEntry&) = delete;
    ~OpenEntry()
    {
        if (m_archive) unzCloseCurrentFile(m_archive);
    }
    int Close()
    {
        const unzFile archive = m_archive;
        m_archive = nullptr;
        return unzCloseCurrentFile(archive);
    }

private:
    unzFile m_archive;
};

// The target file while it is written: removed again unless Keep() was called, so a file that
// was cut short, failed its checks or was abandoned never passes for a complete one.
class TargetFile {
public:
    TargetFile(UpdateContext& ctx, const std::wstring& path)
        : m_ctx(ctx), m_path(path), m_file(ctx.host.OpenFile(path, "wb"))
    {
    }
    TargetFile(const TargetFile&) = delete;
    TargetFile& operator=(const TargetFile&) = delete;
    ~TargetFile()
    {
        if (m_file) std::fclose(m_file);
        if (!m_kept && m_opened) m_ctx.host.RemoveFile(m_path);
    }
    std::FILE* get() const { return m_file; }
    // Buffered bytes reach the system only here; a full disk may show up at this point.
    bool Close()
    {
        std::FILE* file = m_file;
        m_file = nullptr;
        return std::fclose(file) == 0;
    }
    void Keep() { m_kept = true; }

private:
    UpdateContext& m_ctx;
    const std::wstring& m_path;
    std::FILE* m_file;
    // Only a file this copy created is removed: a folder of the target's name is not ours.
    const bool m_opened = m_file != nullptr;
    bool m_kept = false;
};

// Deflate cannot make more than this many bytes of one: a bound for what an entry may claim.
constexpr std::uint64_t kMaxInflateRatio = 1032;

// One entry's bytes on their way from the package to the target: where the packed bytes are,
// what was written and its CRC-32.
class EntryCopy {
public:
    EntryCopy(UpdateContext& ctx, const Archive& archive, const EntryHeader& header, CopyBuffers& buffers,
              const std::atomic<bool>& stop, std::FILE* out, EntryFault& fault)
        : m_ctx(ctx), m_file(archive.file()), m_header(header), m_buffers(buffers), m_stop(stop), m_out(out),
          m_fault(fault), m_packedAt(unzGetCurrentFileZStreamPos64(archive.get())),
          m_packedLeft(header.info.compressed_size)
    {
    }

    EntryOutcome Stored()
    {
        // What a stored entry holds beyond its declared size is not part of it.
        std::uint64_t left = std::min<std::uint64_t>(m_packedLeft, m_header.info.uncompressed_size);
        do {
            if (Stopped()) return EntryOutcome::Abandoned;
            const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(left, CopyBuffers::kBlockBytes));
            if (!ReadPacked(m_buffers.unpacked.get(), size)) return ReadFailed(L"-1");
            if (!Put(m_buffers.unpacked.get(), size)) return WriteFailed();
            left -= size;
        } while (left > 0);
        return EntryOutcome::Written;
    }

    // Packed and unpacked bytes both fit a block: one read, one inflate, one write.
    EntryOutcome InflatedWhole()
    {
        if (Stopped()) return EntryOutcome::Abandoned;
        const auto packed = static_cast<std::size_t>(m_packedLeft);
        if (!ReadPacked(m_buffers.packed.get(), packed)) return ReadFailed(L"-1");
        std::size_t made = 0;
        const libdeflate_result result = libdeflate_deflate_decompress_ex(
            m_buffers.whole, m_buffers.packed.get(), packed, m_buffers.unpacked.get(),
            static_cast<std::size_t>(m_header.info.uncompressed_size), nullptr, &made);
        if (result == LIBDEFLATE_INSUFFICIENT_SPACE) return TooLong();
        if (result != LIBDEFLATE_SUCCESS) return ReadFailed(L"damaged deflate data");
        return Put(m_buffers.unpacked.get(), made) ? EntryOutcome::Written : WriteFailed();
    }

    EntryOutcome InflatedStream()
    {
        if (!StartStream()) return ReadFailed(L"inflate cannot start");
        z_stream& z = *m_buffers.stream;
        for (;;) {
            if (Stopped()) return EntryOutcome::Abandoned;
            if (z.avail_in == 0 && m_packedLeft > 0) {
                const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(m_packedLeft, CopyBuffers::kBlockBytes));
                if (!ReadPacked(m_buffers.packed.get(), size)) return ReadFailed(L"-1");
                z.next_in = m_buffers.packed.get();
                z.avail_in = static_cast<uInt>(size);
            }
            z.next_out = m_buffers.unpacked.get();
            z.avail_out = static_cast<uInt>(CopyBuffers::kBlockBytes);
            const int result = inflate(&z, Z_NO_FLUSH);
            if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
                return ReadFailed(std::to_wstring(result));
            const std::size_t made = CopyBuffers::kBlockBytes - z.avail_out;
            if (m_written + made > m_header.info.uncompressed_size) return TooLong();
            if (!Put(m_buffers.unpacked.get(), made)) return WriteFailed();
            if (result == Z_STREAM_END) return EntryOutcome::Written;
            // No progress with every packed byte given: the stream ends before its end mark.
            if (result == Z_BUF_ERROR) return ReadFailed(L"the deflate data end early");
        }
    }

    std::uint64_t Written() const { return m_written; }
    std::uint32_t Crc() const { return m_crc; }

private:
    bool Stopped()
    {
        if (!m_stop.load(std::memory_order_relaxed)) return false;
        m_ctx.Info(kWalkFunction, __LINE__, L"entry " + m_header.name + L" abandoned: the walk stopped");
        return true;
    }

    bool ReadPacked(unsigned char* into, std::size_t size)
    {
        if (!m_file.ReadAt(m_packedAt, into, size)) return false;
        m_packedAt += size;
        m_packedLeft -= size;
        return true;
    }

    bool Put(const unsigned char* bytes, std::size_t size)
    {
        m_crc = libdeflate_crc32(m_crc, bytes, size);
        m_written += size;
        return size == 0 || std::fwrite(bytes, 1, size, m_out) == size;
    }

    // The thread's inflate stream, made for its first streamed entry and reset for each next.
    bool StartStream()
    {
        if (m_buffers.stream) return inflateReset(m_buffers.stream.get()) == Z_OK;
        auto z = std::make_unique<z_stream>();
        if (inflateInit2(z.get(), -MAX_WBITS) != Z_OK) return false;
        m_buffers.stream = std::move(z);
        return true;
    }

    EntryOutcome Fail(int line, std::wstring text)
    {
        m_fault = EntryFault{line, std::move(text)};
        return EntryOutcome::Failed;
    }
    EntryOutcome ReadFailed(const std::wstring& why)
    {
        return Fail(__LINE__, L"cannot read entry " + m_header.name + L" (" + why + L")");
    }
    EntryOutcome WriteFailed() { return Fail(__LINE__, L"cannot write " + m_header.target); }
    EntryOutcome TooLong()
    {
        return Fail(__LINE__, L"entry " + m_header.name + L" has more bytes than the archive declares (" +
                                  std::to_wstring(m_header.info.uncompressed_size) + L")");
    }

    UpdateContext& m_ctx;
    ArchiveFile& m_file;
    const EntryHeader& m_header;
    CopyBuffers& m_buffers;
    const std::atomic<bool>& m_stop;
    std::FILE* m_out;
    EntryFault& m_fault;
    std::uint64_t m_packedAt;
    std::uint64_t m_packedLeft;
    std::uint64_t m_written = 0;
    std::uint32_t m_crc = 0;
};

}  // namespace

CopyBuffers::CopyBuffers() : whole(libdeflate_alloc_decompressor()) {}

CopyBuffers::~CopyBuffers()
{
    if (whole) libdeflate_free_decompressor(whole);
    if (stream) inflateEnd(stream.get());
}

EntryOutcome CopyFileEntry(UpdateContext& ctx, const Archive& archive, const EntryHeader& header,
                           CopyBuffers& buffers, const std::atomic<bool>& stop, EntryFault& fault)
{
    const auto failed = [&fault](int line, std::wstring text) {
        fault = EntryFault{line, std::move(text)};
        return EntryOutcome::Failed;
    };
    const std::wstring& name = header.name;
    int method = 0;
    if (unzOpenCurrentFile2(archive.get(), &method, nullptr, 1) != UNZ_OK) {
        return failed(__LINE__, L"cannot open entry " + name);
    }
    OpenEntry entry(archive.get());
    if (method != 0 && method != Z_DEFLATED) {
        return failed(__LINE__, L"cannot read entry " + name + L" (compression method " + std::to_wstring(method) + L")");
    }
    if (!buffers.whole) {
        return failed(__LINE__, L"cannot read entry " + name + L" (no memory for the inflater)");
    }

    TargetFile out(ctx, header.target);
    if (!out.get()) {
        return failed(__LINE__, L"cannot create " + header.target);
    }
    std::setvbuf(out.get(), nullptr, _IONBF, 0);

    const std::uint64_t packed = header.info.compressed_size;
    const std::uint64_t declared = header.info.uncompressed_size;
    const bool whole = packed <= CopyBuffers::kBlockBytes && declared <= CopyBuffers::kBlockBytes;
    // Room for a large file in one piece; no more than its packed bytes can make.
    if (!whole) {
        const std::uint64_t most = method == 0 ? packed : (packed > UINT64_MAX / kMaxInflateRatio ? UINT64_MAX : packed * kMaxInflateRatio);
        ctx.host.ReserveFileSize(out.get(), std::min<std::uint64_t>(declared, most));
    }

    EntryCopy copy(ctx, archive, header, buffers, stop, out.get(), fault);
    const EntryOutcome outcome = method == 0 ? copy.Stored() : whole ? copy.InflatedWhole() : copy.InflatedStream();
    if (outcome != EntryOutcome::Written) return outcome;
    if (!out.Close()) {
        return failed(__LINE__, L"cannot write " + header.target);
    }
    if (entry.Close() != UNZ_OK) {
        return failed(__LINE__, L"cannot close entry " + name);
    }
    // Data that ends early (a stored entry cut short, a deflate stream that finishes too soon)
    // is named by its size; data of the declared size by its check value.
    if (copy.Written() != declared) {
        return failed(__LINE__, L"entry " + name + L" has " + std::to_wstring(copy.Written()) +
                                    L" bytes, the archive declares " + std::to_wstring(declared));
    }
    if (copy.Crc() != (header.info.crc & 0xFFFFFFFFul)) {
        return failed(__LINE__, L"CRC error in entry " + name);
    }
    out.Keep();
    return EntryOutcome::Written;
}

}  // namespace core
