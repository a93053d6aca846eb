#include "core/update/archive_reader.h"

#include <algorithm>

#include "core/update/archive_entry.h"
#include "core/text/utf8_text.h"

namespace core {

namespace {

// The entry's name as the packer meant it: UTF-8 when the entry says so (flag bit 11, as 7-Zip,
// bsdtar and Python write it) or carries a matching Unicode Path field; otherwise the ANSI
// code page, which is what packers on Chinese Windows write without any marker.
std::wstring EntryNameText(UpdateContext& ctx, const std::string& raw, const unz_file_info64& info,
                           const HeaderBuffer& buffer)
{
    if (info.flag & kUtf8NameFlag) return Utf8ToWide(raw);
    const std::size_t extraBytes = std::min<std::size_t>(info.size_file_extra, sizeof buffer.extraField);
    std::string unicodeName;
    const unsigned long nameCrc =
        crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(raw.data()), static_cast<uInt>(raw.size()));
    if (FindUnicodePathName(std::string(buffer.extraField, extraBytes), nameCrc, unicodeName))
        return Utf8ToWide(unicodeName);
    return ctx.host.FromAnsi(raw);
}

}  // namespace

void LogFault(UpdateContext& ctx, const EntryFault& fault)
{
    ctx.host.Log(L"ERROR", kWalkFunction, fault.line, fault.text);
}

Archive OpenArchive(UpdateContext& ctx, const std::wstring& packagePath)
{
    zlib_filefunc64_def platform{};
    void* stream = ctx.host.OpenArchiveStream(packagePath, platform);
    if (!stream) return {};
    auto file = std::make_unique<ArchiveFile>(platform, stream);
    zlib_filefunc64_def functions = file->FileFunctions();
    const unzFile handle = unzOpen2_64("", &functions);
    if (!handle) return {};
    return Archive(std::move(file), handle);
}

EntryFault ReadEntryHeader(UpdateContext& ctx, unzFile archive, std::uint64_t entryNumber, HeaderBuffer& buffer,
                           EntryHeader& header)
{
    char rawName[kEntryNameBufferBytes];
    if (unzGetCurrentFileInfo64(archive, &header.info, rawName, sizeof rawName, buffer.extraField,
                                sizeof buffer.extraField, nullptr, 0) != UNZ_OK)
        return {__LINE__, L"cannot read the header of entry " + std::to_wstring(entryNumber)};
    // minizip cuts a longer name to the buffer without a terminator; a cut name is another name.
    if (!EntryNameFits(header.info.size_filename))
        return {__LINE__, L"entry name of " + std::to_wstring(header.info.size_filename) + L" bytes is too long"};
    // Taken by its stored length, so a NUL inside the name is seen (and refused) rather than
    // silently ending the name early.
    header.name = EntryNameText(ctx, std::string(rawName, header.info.size_filename), header.info, buffer);
    return {};
}

EntryFault CheckEntryTarget(UpdateContext& ctx, EntryHeader& header)
{
    const EntryNameVerdict verdict = CheckEntryName(header.name);
    if (verdict != EntryNameVerdict::Accepted)
        return {__LINE__, std::wstring(L"entry refused (") + DescribeEntryNameVerdict(verdict) + L"): " + header.name};
    header.target = ctx.host.JoinPath(ctx.paths.clientDir, header.name);
    if (!TargetPathFits(header.target))
        return {__LINE__, L"target path too long for entry " + header.name};
    return {};
}

}  // namespace core
