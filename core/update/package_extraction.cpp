#include "core/update/package_extraction.h"

#include <minizip/unzip.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

#include "core/update/archive_entry.h"
#include "core/diag/report_events.h"
#include "core/text/utf8_text.h"

namespace core {

namespace {

constexpr char kWalkFunction[] = "CGameRemoteConfig::OnUnzipFile";
constexpr char kUnzipFunction[] = "CGameRemoteConfig::UnzipFile";

constexpr unsigned kCopyBufferBytes = 8192;
// The copy hands 8 KiB blocks to stdio; a larger stdio buffer for the target file turns them
// into fewer, larger writes to the system (the main cost with big entries).
constexpr std::size_t kTargetStdioBufferBytes = 256 * 1024;

struct ArchiveCloser {
    void operator()(std::remove_pointer_t<unzFile>* archive) const { unzClose(archive); }
};
using Archive = std::unique_ptr<std::remove_pointer_t<unzFile>, ArchiveCloser>;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

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

// Buffers shared by every entry of one walk, so memory stays the same whatever the archive.
struct CopyBuffers {
    char block[kCopyBufferBytes];
    char extraField[0x10000];  // an extra field's length is a 16-bit number
    std::vector<char> targetStdio = std::vector<char>(kTargetStdioBufferBytes);
};

// The entry's name as the packer meant it: UTF-8 when the entry says so (flag bit 11, as 7-Zip,
// bsdtar and Python write it) or carries a matching Unicode Path field; otherwise the ANSI
// code page, which is what packers on Chinese Windows write without any marker.
std::wstring EntryNameText(UpdateContext& ctx, const std::string& raw, const unz_file_info64& info,
                           const CopyBuffers& buffers)
{
    if (info.flag & kUtf8NameFlag) return Utf8ToWide(raw);
    const std::size_t extraBytes = std::min<std::size_t>(info.size_file_extra, sizeof buffers.extraField);
    std::string unicodeName;
    const unsigned long nameCrc =
        crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(raw.data()), static_cast<uInt>(raw.size()));
    if (FindUnicodePathName(std::string(buffers.extraField, extraBytes), nameCrc, unicodeName))
        return Utf8ToWide(unicodeName);
    return ctx.host.FromAnsi(raw);
}

// Makes the folders on the way to a file entry; many packers store no entries for folders.
// The name has passed the entry checks, so every part stays inside the client directory.
void MakeParentFolders(UpdateContext& ctx, const std::wstring& name)
{
    for (std::size_t sep = name.find_first_of(L"/\\"); sep != std::wstring::npos;
         sep = name.find_first_of(L"/\\", sep + 1))
        if (sep > 0) ctx.host.MakeDirectory(ctx.host.JoinPath(ctx.paths.clientDir, name.substr(0, sep)));
}

// Copies the current (file) entry into target. Every way this fails logs a line naming the
// entry or its target, so a failed walk says what stopped it.
bool ExtractFile(UpdateContext& ctx, unzFile archive, const unz_file_info64& info, const std::wstring& name,
                 const std::wstring& target, CopyBuffers& buffers)
{
    if (unzOpenCurrentFile(archive) != UNZ_OK) {
        ctx.Error(kWalkFunction, __LINE__, L"cannot open entry " + name);
        return false;
    }
    OpenEntry entry(archive);

    File out(ctx.host.OpenFile(target, "wb"));
    if (!out) {
        ctx.Error(kWalkFunction, __LINE__, L"cannot create " + target);
        return false;
    }
    std::setvbuf(out.get(), buffers.targetStdio.data(), _IOFBF, buffers.targetStdio.size());

    std::uint64_t written = 0;
    for (;;) {
        const int got = unzReadCurrentFile(archive, buffers.block, kCopyBufferBytes);
        if (got < 0) {
            ctx.Error(kWalkFunction, __LINE__, L"cannot read entry " + name + L" (" + std::to_wstring(got) + L")");
            return false;
        }
        if (got == 0) break;
        if (std::fwrite(buffers.block, 1, static_cast<std::size_t>(got), out.get()) !=
            static_cast<std::size_t>(got)) {
            ctx.Error(kWalkFunction, __LINE__, L"cannot write " + target);
            return false;
        }
        written += static_cast<std::uint64_t>(got);
    }
    // Buffered bytes reach the disk only here; a full disk may show up at this point.
    if (std::fclose(out.release()) != 0) {
        ctx.Error(kWalkFunction, __LINE__, L"cannot write " + target);
        return false;
    }

    const int closed = entry.Close();
    if (closed == UNZ_CRCERROR) {
        ctx.Error(kWalkFunction, __LINE__, L"CRC error in entry " + name);
        return false;
    }
    if (closed != UNZ_OK) {
        ctx.Error(kWalkFunction, __LINE__, L"cannot close entry " + name);
        return false;
    }
    // minizip checks the CRC only when the data ran to the declared size; data that ends early
    // (a stored entry cut short, a deflate stream that finishes too soon) reads as a normal end.
    if (written != info.uncompressed_size) {
        ctx.Error(kWalkFunction, __LINE__,
                  L"entry " + name + L" has " + std::to_wstring(written) + L" bytes, the archive declares " +
                      std::to_wstring(info.uncompressed_size));
        return false;
    }
    return true;
}

// One entry: name checks, then a directory or a file. False stops the walk.
bool ExtractCurrentEntry(UpdateContext& ctx, unzFile archive, CopyBuffers& buffers)
{
    unz_file_info64 info{};
    char rawName[kEntryNameBufferBytes];
    if (unzGetCurrentFileInfo64(archive, &info, rawName, sizeof rawName, buffers.extraField, sizeof buffers.extraField,
                              nullptr, 0) != UNZ_OK) {
        ctx.Error(kWalkFunction, __LINE__, L"cannot read the next entry's header");
        return false;
    }
    // minizip cuts a longer name to the buffer without a terminator; a cut name is another name.
    if (!EntryNameFits(info.size_filename)) {
        ctx.Error(kWalkFunction, __LINE__,
                  L"entry name of " + std::to_wstring(info.size_filename) + L" bytes is too long");
        return false;
    }
    // Taken by its stored length, so a NUL inside the name is seen (and refused) rather than
    // silently ending the name early.
    const std::wstring name = EntryNameText(ctx, std::string(rawName, info.size_filename), info, buffers);
    ctx.Info(kWalkFunction, __LINE__, name);

    const EntryNameVerdict verdict = CheckEntryName(name);
    if (verdict != EntryNameVerdict::Accepted) {
        ctx.Error(kWalkFunction, __LINE__,
                  std::wstring(L"entry refused (") + DescribeEntryNameVerdict(verdict) + L"): " + name);
        return false;
    }

    const std::wstring target = ctx.host.JoinPath(ctx.paths.clientDir, name);
    if (!TargetPathFits(target)) {
        ctx.Error(kWalkFunction, __LINE__, L"target path too long for entry " + name);
        return false;
    }

    if (IsDirectoryEntryName(name)) {
        // An existing folder is what we want; one that cannot be made shows up with the first
        // file that needs it.
        ctx.host.MakeDirectory(target);
        unzCloseCurrentFile(archive);  // nothing is open; kept for the walk's fixed call order
        return true;
    }
    MakeParentFolders(ctx, name);
    return ExtractFile(ctx, archive, info, name, target, buffers);
}

// minizip cannot open an archive without entries; one that is exactly that unpacks to nothing.
bool IsEmptyArchiveFile(UpdateContext& ctx, const std::wstring& packagePath)
{
    const std::int64_t size = ctx.host.FileSize(packagePath);
    if (size < static_cast<std::int64_t>(kEndRecordBytes) || size > static_cast<std::int64_t>(kMaxEmptyArchiveBytes))
        return false;
    File in(ctx.host.OpenFile(packagePath, "rb"));
    if (!in) return false;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (std::fread(&bytes[0], 1, bytes.size(), in.get()) != bytes.size()) return false;
    return IsEmptyZipArchive(bytes);
}

// The bytes the entries declare once unpacked, saturating at the largest figure. Entries may
// share one stored stream, so this can be far more than the package itself. Leaves the archive
// at its first entry; false when an entry cannot be reached.
bool DeclaredUnpackedBytes(UpdateContext& ctx, unzFile archive, std::uint64_t entries, std::uint64_t& sum)
{
    sum = 0;
    for (std::uint64_t k = 1; k <= entries; ++k) {
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
            ctx.Error(kWalkFunction, __LINE__, L"cannot read the header of entry " + std::to_wstring(k));
            return false;
        }
        if (k < entries && unzGoToNextFile(archive) != UNZ_OK) {
            ctx.Error(kWalkFunction, __LINE__,
                      L"cannot reach entry " + std::to_wstring(k + 1) + L" of " + std::to_wstring(entries));
            return false;
        }
        const std::uint64_t size = info.uncompressed_size;
        sum = size > UINT64_MAX - sum ? UINT64_MAX : sum + size;
    }
    return entries == 0 || unzGoToFirstFile(archive) == UNZ_OK;
}

// Refuses an archive whose entries would not fit the client folder's drive, before anything is
// written: a full disk half way through leaves a broken install behind.
bool UnpackedSizeFits(UpdateContext& ctx, unzFile archive, std::uint64_t entries)
{
    std::uint64_t declared = 0;
    if (!DeclaredUnpackedBytes(ctx, archive, entries, declared)) return false;
    const std::int64_t available = ctx.host.FreeBytes(ctx.paths.clientDir);
    if (available < 0) {
        ctx.Info(kWalkFunction, __LINE__, L"free space of " + ctx.paths.clientDir + L" unknown; not checked");
        return true;
    }
    if (declared <= static_cast<std::uint64_t>(available)) return true;
    ctx.Error(kWalkFunction, __LINE__,
              L"the entries declare " + std::to_wstring(declared) + L" bytes, the drive of " + ctx.paths.clientDir +
                  L" has " + std::to_wstring(available) + L" bytes free");
    return false;
}

}  // namespace

bool OnUnzipFile(UpdateContext& ctx, const std::wstring& packagePath)
{
    ctx.Info(kWalkFunction, __LINE__, L"unzip file:" + packagePath + L" begin");
    ctx.host.ReportMessage(L"game unzip start");

    std::uint64_t total = 0;
    Archive archive(unzOpen(ctx.host.ArchivePathArgument(packagePath).c_str()));
    if (archive) {
        unz_global_info global{};
        if (unzGetGlobalInfo(archive.get(), &global) != UNZ_OK) {
            archive.reset();
            ctx.Error(kWalkFunction, __LINE__, L"unzGetGlobalInfo is error!");
            return false;
        }
        total = global.number_entry;
        if (!UnpackedSizeFits(ctx, archive.get(), total)) return false;
    } else if (!IsEmptyArchiveFile(ctx, packagePath)) {
        ctx.Error(kWalkFunction, __LINE__, L"zipfile is NULL!");
        return false;
    }

    const std::wstring totalText = std::to_wstring(static_cast<int>(total));
    auto buffers = std::make_unique<CopyBuffers>();
    for (std::uint64_t k = 1; k <= total; ++k) {
        if (!ExtractCurrentEntry(ctx, archive.get(), *buffers)) return false;
        if (k < total && unzGoToNextFile(archive.get()) != UNZ_OK) {
            ctx.Error(kWalkFunction, __LINE__, L"cannot reach entry " + std::to_wstring(k + 1) + L" of " + totalText);
            return false;
        }

        const auto percent = static_cast<int>(k * 100u / total);
        ctx.UpdateProgress(L"", std::to_wstring(static_cast<int>(k)) + L"/" + totalText, percent, 0);
        ctx.ShowProgressControls(true);
    }

    archive.reset();
    ctx.Info(kWalkFunction, __LINE__, L"unzip is finish!");
    ctx.host.ReportEventCode(kEventUnzipDone);
    ctx.host.ReportMessage(L"game unzip success");
    return true;
}

bool UnzipFile(UpdateContext& ctx, const std::wstring& packagePath, std::FILE* openHandle)
{
    const bool unpacked = OnUnzipFile(ctx, packagePath);
    // The caller's handle would keep the package from being deleted on Windows.
    if (openHandle) std::fclose(openHandle);

    if (!unpacked) {
        ctx.UpdateProgress(L"解压失败", L"", 0, 0);
        ctx.ShowProgressControls(false);
        ctx.Error(kUnzipFunction, __LINE__, L"unzip is error!");
        ctx.host.ReportMessage(L"game unzip failed");
        return false;
    }

    ctx.host.RemoveFile(packagePath);
    ctx.host.SetRegisties();

    const std::wstring runningPath = ctx.host.RunningExecutablePath();
    const std::wstring copyPath = ctx.LauncherCopyPath();
    ctx.Info(kUnzipFunction, __LINE__, runningPath);
    const unsigned long copyError = ctx.host.CopyLauncherTo(copyPath);
    if (copyError == 0)
        ctx.host.CreateShortcuts();
    else
        ctx.Error(kUnzipFunction, __LINE__, L"CopyFile ret:" + std::to_wstring(static_cast<int>(copyError)));

    WriteLocalClientVersion(ctx);

    ctx.UpdateProgress(L"更新已完成", L"", 0, 0);
    ctx.ShowProgressControls(false);
    ctx.SetReady();
    ctx.Info(kUnzipFunction, __LINE__, L"unzip is finish!");
    return true;
}

void WriteLocalClientVersion(UpdateContext& ctx)
{
    File record(ctx.host.OpenFile(ctx.host.JoinPath(ctx.paths.clientDir, L"game_client_version.txt"), "w"));
    if (!record) return;
    if (const std::wstring* version = FindConfigValue(ctx.state.remoteConfig, L"ClientVersion")) {
        const std::string bytes = ctx.host.ToAnsi(*version);
        std::fwrite(bytes.data(), 1, bytes.size(), record.get());
    }
}

}  // namespace core
