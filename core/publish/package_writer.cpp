#include "core/publish/package_writer.h"

#include <minizip/zip.h>

#include <ctime>

#include "core/publish/publish_files.h"
#include "core/update/archive_entry.h"

namespace core {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kReadBlockBytes = 256 * 1024;
constexpr std::size_t kArchiveStdioBytes = 1024 * 1024;
constexpr int kDeflateLevel = 6;
// "Made by" version 2.0 on MS-DOS: the attributes are DOS attributes (0x10 for a folder).
constexpr unsigned long kVersionMadeBy = 20;
constexpr unsigned long kDosDirectoryAttribute = 0x10;

// minizip's file functions over a C library file opened by std::filesystem path, so the
// archive may be written anywhere a studio's folders are, wide names on Windows included.
// minizip hands back, as the "file name", the pointer given to zipOpen2_64: the path.
voidpf OpenArchive(voidpf, const void* path, int)
{
    std::FILE* file = OpenPathFile(*static_cast<const fs::path*>(path), "w+b");
    if (file) std::setvbuf(file, nullptr, _IOFBF, kArchiveStdioBytes);
    return file;
}
uLong ReadArchive(voidpf, voidpf file, void* buf, uLong size)
{
    return static_cast<uLong>(std::fread(buf, 1, size, static_cast<std::FILE*>(file)));
}
uLong WriteArchive(voidpf, voidpf file, const void* buf, uLong size)
{
    return static_cast<uLong>(std::fwrite(buf, 1, size, static_cast<std::FILE*>(file)));
}
ZPOS64_T TellArchive(voidpf, voidpf file)
{
#ifdef _WIN32
    return static_cast<ZPOS64_T>(_ftelli64(static_cast<std::FILE*>(file)));
#else
    return static_cast<ZPOS64_T>(ftello(static_cast<std::FILE*>(file)));
#endif
}
long SeekArchive(voidpf, voidpf file, ZPOS64_T offset, int origin)
{
    const int whence = origin == ZLIB_FILEFUNC_SEEK_SET ? SEEK_SET : origin == ZLIB_FILEFUNC_SEEK_END ? SEEK_END : SEEK_CUR;
#ifdef _WIN32
    return _fseeki64(static_cast<std::FILE*>(file), static_cast<__int64>(offset), whence) == 0 ? 0 : -1;
#else
    return fseeko(static_cast<std::FILE*>(file), static_cast<off_t>(offset), whence) == 0 ? 0 : -1;
#endif
}
int CloseArchive(voidpf, voidpf file) { return std::fclose(static_cast<std::FILE*>(file)); }
int ArchiveError(voidpf, voidpf file) { return std::ferror(static_cast<std::FILE*>(file)); }

zlib_filefunc64_def ArchiveFileFunctions()
{
    zlib_filefunc64_def functions{};
    functions.zopen64_file = &OpenArchive;
    functions.zread_file = &ReadArchive;
    functions.zwrite_file = &WriteArchive;
    functions.ztell64_file = &TellArchive;
    functions.zseek64_file = &SeekArchive;
    functions.zclose_file = &CloseArchive;
    functions.zerror_file = &ArchiveError;
    return functions;
}

// The extended timestamp field (0x5455) with the modification time only: readers that know it
// show the exact time whatever their time zone.
std::string ExtendedTimestamp(std::int64_t seconds)
{
    const std::uint32_t t = static_cast<std::uint32_t>(seconds < 0 ? 0 : seconds > 0x7FFFFFFF ? 0x7FFFFFFF : seconds);
    const char field[9] = {0x55, 0x54, 5, 0, 1, static_cast<char>(t & 0xFF), static_cast<char>((t >> 8) & 0xFF),
                           static_cast<char>((t >> 16) & 0xFF), static_cast<char>((t >> 24) & 0xFF)};
    return std::string(field, sizeof field);
}

class PackageArchive {
public:
    PackageArchive(const fs::path& path, const std::function<void(const PackProgress&)>& progress, std::string& error)
        : m_functions(ArchiveFileFunctions()), m_path(path), m_progress(progress), m_error(error), m_block(kReadBlockBytes)
    {
        m_archive = zipOpen2_64(&m_path, APPEND_STATUS_CREATE, nullptr, &m_functions);
    }
    ~PackageArchive()
    {
        if (m_archive) zipClose(m_archive, nullptr);
    }

    bool Write(const std::vector<PackageEntry>& entries)
    {
        if (!m_archive) return Fail("cannot create " + PathUtf8(m_path));
        m_figures.entriesTotal = entries.size();
        for (const PackageEntry& entry : entries) m_figures.bytesTotal += entry.size;
        for (const PackageEntry& entry : entries) {
            if (!AddEntry(entry)) return false;
            ++m_figures.entriesDone;
            Report();
        }
        const zipFile archive = m_archive;
        m_archive = nullptr;
        if (zipClose(archive, nullptr) != ZIP_OK) return Fail("cannot write " + PathUtf8(m_path));
        return true;
    }

private:
    bool AddEntry(const PackageEntry& entry)
    {
        zip_fileinfo info{};
        info.dosDate = DosDateTime(entry.modified);
        info.external_fa = entry.directory ? kDosDirectoryAttribute : 0;
        const std::string timestamp = ExtendedTimestamp(entry.modified);
        const bool stored = entry.directory || entry.size == 0;
        if (zipOpenNewFileInZip4_64(m_archive, entry.name.c_str(), &info, timestamp.data(),
                                    static_cast<uInt>(timestamp.size()), timestamp.data(),
                                    static_cast<uInt>(timestamp.size()), nullptr, stored ? 0 : Z_DEFLATED,
                                    stored ? 0 : kDeflateLevel, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY,
                                    nullptr, 0, kVersionMadeBy, kUtf8NameFlag,
                                    EntryNeedsZip64(entry.size) ? 1 : 0) != ZIP_OK)
            return Fail(entry.name + ": cannot be added to " + PathUtf8(m_path));
        if (!entry.directory && !CopyFile(entry)) return false;
        if (zipCloseFileInZip(m_archive) != ZIP_OK) return Fail(entry.name + ": cannot be written to " + PathUtf8(m_path));
        return true;
    }

    bool CopyFile(const PackageEntry& entry)
    {
        StdioFile in(OpenPathFile(entry.source, "rb"));
        if (!in) return Fail(entry.name + ": cannot be opened");
        std::uint64_t copied = 0;
        std::size_t got;
        while ((got = std::fread(m_block.data(), 1, m_block.size(), in.get())) > 0) {
            copied += got;
            if (copied > entry.size) break;
            if (zipWriteInFileInZip(m_archive, m_block.data(), static_cast<unsigned>(got)) != ZIP_OK)
                return Fail(entry.name + ": cannot be written to " + PathUtf8(m_path));
            m_figures.bytesDone += got;
            Report();
        }
        if (std::ferror(in.get())) return Fail(entry.name + ": cannot be read");
        if (copied != entry.size)
            return Fail(entry.name + ": changed while it was packed (" + std::to_string(entry.size) + " bytes before, " +
                        (copied > entry.size ? "more" : std::to_string(copied)) + " now)");
        return true;
    }

    void Report()
    {
        if (m_progress) m_progress(m_figures);
    }

    bool Fail(const std::string& why)
    {
        m_error = why;
        return false;
    }

    zlib_filefunc64_def m_functions;
    fs::path m_path;
    const std::function<void(const PackProgress&)>& m_progress;
    std::string& m_error;
    std::vector<char> m_block;
    PackProgress m_figures;
    zipFile m_archive = nullptr;
};

}  // namespace

unsigned long DosDateTime(std::int64_t secondsUtc)
{
    // 1980-01-01 00:00:00 and 2107-12-31 23:59:58 UTC.
    constexpr std::int64_t kFirst = 315532800;
    constexpr std::int64_t kLast = 4354819198;
    const std::int64_t clamped = secondsUtc < kFirst ? kFirst : secondsUtc > kLast ? kLast : secondsUtc;
    // Civil date from days since 1970 (proleptic Gregorian), without the C library's time zone.
    const std::int64_t days = clamped / 86400, secondOfDay = clamped % 86400;
    const std::int64_t z = days + 719468, era = z / 146097, doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    const unsigned long date = static_cast<unsigned long>(((year - 1980) << 9) | (month << 5) | day);
    const unsigned long time = static_cast<unsigned long>(((secondOfDay / 3600) << 11) |
                                                          (((secondOfDay / 60) % 60) << 5) | ((secondOfDay % 60) / 2));
    return (date << 16) | time;
}

bool EntryNeedsZip64(std::uint64_t size)
{
    // zlib's bound on deflate's growth (deflateBound for the default settings).
    const std::uint64_t bound = size + (size >> 12) + (size >> 14) + (size >> 25) + 13 + 6;
    return bound >= 0xFFFFFFFFull;
}

bool WritePackage(const std::vector<PackageEntry>& entries, const fs::path& path,
                  const std::function<void(const PackProgress&)>& progress, std::string& error)
{
    PackageArchive archive(path, progress, error);
    return archive.Write(entries);
}

}  // namespace core
