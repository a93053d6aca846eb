#include "core/update/entry_copy.h"

#include <cstdint>
#include <cstdio>
#include <utility>

namespace core {

namespace {

// The archive's current entry, opened for reading; closed on every way out. Close() gives
// minizip's verdict on the data read (UNZ_CRCERROR once every byte was read and the check
// value is wrong).
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

}  // namespace

EntryOutcome CopyFileEntry(UpdateContext& ctx, unzFile archive, const EntryHeader& header, CopyBuffers& buffers,
                           const std::atomic<bool>& stop, EntryFault& fault)
{
    const auto failed = [&fault](int line, std::wstring text) {
        fault = EntryFault{line, std::move(text)};
        return EntryOutcome::Failed;
    };
    const std::wstring& name = header.name;
    if (unzOpenCurrentFile(archive) != UNZ_OK) {
        return failed(__LINE__, L"cannot open entry " + name);
    }
    OpenEntry entry(archive);

    TargetFile out(ctx, header.target);
    if (!out.get()) {
        return failed(__LINE__, L"cannot create " + header.target);
    }
    std::setvbuf(out.get(), nullptr, _IONBF, 0);

    std::uint64_t written = 0;
    for (;;) {
        if (stop.load(std::memory_order_relaxed)) {
            ctx.Info(kWalkFunction, __LINE__, L"entry " + name + L" abandoned: the walk stopped");
            return EntryOutcome::Abandoned;
        }
        const int got = unzReadCurrentFile(archive, buffers.block.data(), CopyBuffers::kBlockBytes);
        if (got < 0) {
            return failed(__LINE__, L"cannot read entry " + name + L" (" + std::to_wstring(got) + L")");
        }
        if (got == 0) break;
        const auto size = static_cast<std::size_t>(got);
        if (std::fwrite(buffers.block.data(), 1, size, out.get()) != size) {
            return failed(__LINE__, L"cannot write " + header.target);
        }
        written += size;
    }
    if (!out.Close()) {
        return failed(__LINE__, L"cannot write " + header.target);
    }

    const int closed = entry.Close();
    if (closed == UNZ_CRCERROR) {
        return failed(__LINE__, L"CRC error in entry " + name);
    }
    if (closed != UNZ_OK) {
        return failed(__LINE__, L"cannot close entry " + name);
    }
    // minizip checks the CRC only when the data ran to the declared size; data that ends early
    // (a stored entry cut short, a deflate stream that finishes too soon) reads as a normal end.
    if (written != header.info.uncompressed_size) {
        return failed(__LINE__, L"entry " + name + L" has " + std::to_wstring(written) + L" bytes, the archive declares " +
                      std::to_wstring(header.info.uncompressed_size));
    }
    out.Keep();
    return EntryOutcome::Written;
}

}  // namespace core
