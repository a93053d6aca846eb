#include "core/update/package_extraction.h"

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "core/update/archive_entry.h"
#include "core/update/archive_reader.h"
#include "core/update/unzip_workers.h"
#include "core/diag/report_events.h"

namespace core {

namespace {

constexpr char kUnzipFunction[] = "CGameRemoteConfig::UnzipFile";

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// What the planning pass learns from the central directory before anything is written.
struct WalkPlan {
    // Every folder the entries need, each once: the directory entries' own and those on the
    // way to files (many packers store no entries for folders). In the set's order a folder
    // comes before every folder inside it, since a name sorts before its extensions.
    std::set<std::wstring> folders;
    std::uint64_t directoryEntries = 0;
    // File entries that a later entry of the same file replaces: never unpacked, counted as done.
    std::uint64_t replacedEntries = 0;
    std::vector<FileJob> files;
    // What the unpacked files add to the drive beyond the files they replace, with the margin,
    // saturating at the largest figure. Entries may share one stored stream, so this can be far
    // more than the package itself.
    std::uint64_t neededBytes = 0;
};

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

// Adds the folders on the way to an entry (a directory entry's name ends with its own folder's
// separator). The name has passed the entry checks, so every one of them stays inside the
// client directory.
void AddFolders(const std::wstring& name, std::set<std::wstring>& folders)
{
    for (std::size_t sep = name.find_first_of(L"/\\"); sep != std::wstring::npos;
         sep = name.find_first_of(L"/\\", sep + 1))
        if (sep > 0) folders.insert(name.substr(0, sep));
}

// A file entry while the plan is made: its job, its name and target, and whether a later entry
// of the same file replaces it.
struct PlannedFile {
    FileJob job;
    std::wstring name;
    std::wstring target;
    bool replaced = false;
};

// Keeps one file entry per file as Windows names them: two workers must never write one file
// at once, and writing the entries one after the other would leave the later one. The earlier
// entry is logged and dropped.
void KeepLaterEntry(UpdateContext& ctx, std::map<std::wstring, std::size_t>& byKey, std::vector<PlannedFile>& files)
{
    const auto [it, fresh] = byKey.emplace(WindowsNameKey(files.back().name), files.size() - 1);
    if (fresh) return;
    PlannedFile& earlier = files[it->second];
    earlier.replaced = true;
    it->second = files.size() - 1;
    ctx.Warn(kWalkFunction, __LINE__,
             L"entry " + earlier.name + L" is skipped: the later entry " + files.back().name +
                 L" writes the same file");
}

// The folders' keys as Windows compares them; the client folder itself is one of them.
std::set<std::wstring> FolderKeys(const std::set<std::wstring>& folders)
{
    std::set<std::wstring> keys{L""};
    for (const std::wstring& folder : folders) keys.insert(WindowsNameKey(folder));
    return keys;
}

// Turns the file entries into the walk's jobs and adds up the room they need. A name that is
// a folder as well cannot be unpacked, in any order.
bool PlanFiles(UpdateContext& ctx, std::vector<PlannedFile>& files, WalkPlan& plan)
{
    const std::set<std::wstring> folderKeys = FolderKeys(plan.folders);
    for (PlannedFile& file : files) {
        if (file.replaced) {
            ++plan.replacedEntries;
            continue;
        }
        if (folderKeys.count(WindowsNameKey(file.name))) {
            ctx.Error(kWalkFunction, __LINE__, L"entry " + file.name + L" is both a file and a folder");
            return false;
        }
        const std::int64_t existing = ctx.host.FileSize(file.target);
        const std::uint64_t credit = existing > 0 ? static_cast<std::uint64_t>(existing) : 0;
        const std::uint64_t added = file.job.size > credit ? file.job.size - credit : 0;
        plan.neededBytes = SaturatingAdd(plan.neededBytes, SaturatingAdd(added, kUnpackSlackPerFile));
        plan.files.push_back(file.job);
    }
    return true;
}

// Reads every entry's header, logs its name and checks it, so that an archive with one bad name
// writes nothing at all. Leaves the plan of the rest of the walk.
bool PlanWalk(UpdateContext& ctx, unzFile archive, std::uint64_t entries, WalkPlan& plan)
{
    auto buffer = std::make_unique<HeaderBuffer>();
    std::vector<PlannedFile> files;
    std::map<std::wstring, std::size_t> filesByKey;
    for (std::uint64_t k = 1; k <= entries; ++k) {
        EntryHeader header;
        EntryFault fault = ReadEntryHeader(ctx, archive, k, *buffer, header);
        if (!fault) {
            ctx.Info(kWalkFunction, __LINE__, header.name);
            fault = CheckEntryTarget(ctx, header);
        }
        if (fault) {
            LogFault(ctx, fault);
            return false;
        }

        AddFolders(header.name, plan.folders);
        if (IsDirectoryEntryName(header.name)) {
            ++plan.directoryEntries;
        } else {
            PlannedFile file;
            file.job.size = header.info.uncompressed_size;
            if (unzGetFilePos64(archive, &file.job.position) != UNZ_OK) {
                ctx.Error(kWalkFunction, __LINE__, L"cannot locate entry " + std::to_wstring(k));
                return false;
            }
            file.name = std::move(header.name);
            file.target = std::move(header.target);
            files.push_back(std::move(file));
            KeepLaterEntry(ctx, filesByKey, files);
        }

        if (k < entries && unzGoToNextFile(archive) != UNZ_OK) {
            ctx.Error(kWalkFunction, __LINE__,
                      L"cannot reach entry " + std::to_wstring(k + 1) + L" of " + std::to_wstring(entries));
            return false;
        }
    }
    return PlanFiles(ctx, files, plan);
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

// Refuses an archive whose entries would not fit the client folder's drive, before anything is
// written: a full disk half way through leaves a broken install behind.
bool NeededRoomFits(UpdateContext& ctx, std::uint64_t needed)
{
    const std::int64_t available = ctx.host.FreeBytes(ctx.paths.clientDir);
    if (available < 0) {
        ctx.Info(kWalkFunction, __LINE__, L"free space of " + ctx.paths.clientDir + L" unknown; not checked");
        return true;
    }
    if (needed <= static_cast<std::uint64_t>(available)) return true;
    ctx.Error(kWalkFunction, __LINE__,
              L"the entries need " + std::to_wstring(needed) + L" bytes beyond the files they replace, the drive of " +
                  ctx.paths.clientDir + L" has " + std::to_wstring(available) + L" bytes free");
    return false;
}

// The launcher is closing: not a failed unpack, nothing more to do.
bool StoppedByLauncher(UpdateContext& ctx)
{
    if (!ctx.state.stop.Requested()) return false;
    ctx.Info(kWalkFunction, __LINE__, L"unzip stopped: the launcher is closing");
    return true;
}

// "k/N" and k*100/N for each finished entry, counting up one by one.
class EntryProgress {
public:
    EntryProgress(UpdateContext& ctx, std::uint64_t total)
        : m_ctx(ctx), m_total(total), m_totalText(std::to_wstring(static_cast<int>(total)))
    {
    }
    void Finished()
    {
        ++m_done;
        const auto percent = static_cast<int>(m_done * 100u / m_total);
        m_ctx.UpdateProgress(L"", std::to_wstring(static_cast<int>(m_done)) + L"/" + m_totalText, percent, 0);
        m_ctx.ShowProgressControls(true);
    }

private:
    UpdateContext& m_ctx;
    std::uint64_t m_total;
    std::wstring m_totalText;
    std::uint64_t m_done = 0;
};

}  // namespace

bool OnUnzipFile(UpdateContext& ctx, const std::wstring& packagePath)
{
    ctx.Info(kWalkFunction, __LINE__, L"unzip file:" + packagePath + L" begin");
    ctx.host.ReportMessage(L"game unzip start");

    std::uint64_t total = 0;
    WalkPlan plan;
    if (Archive archive = OpenArchive(ctx, packagePath)) {
        unz_global_info global{};
        if (unzGetGlobalInfo(archive.get(), &global) != UNZ_OK) {
            archive.reset();
            ctx.Error(kWalkFunction, __LINE__, L"unzGetGlobalInfo is error!");
            return false;
        }
        total = global.number_entry;
        if (!PlanWalk(ctx, archive.get(), total, plan)) return false;
        if (!NeededRoomFits(ctx, plan.neededBytes)) return false;
    } else if (!IsEmptyArchiveFile(ctx, packagePath)) {
        ctx.Error(kWalkFunction, __LINE__, L"zipfile is NULL!");
        return false;
    }

    if (StoppedByLauncher(ctx)) return false;
    // Folders first, so that no file waits for one. A folder that exists already is what we
    // want; one that cannot be made shows up with the first file that needs it.
    for (const std::wstring& folder : plan.folders) ctx.host.MakeDirectory(ctx.host.JoinPath(ctx.paths.clientDir, folder));
    EntryProgress progress(ctx, total);
    for (std::uint64_t k = 0; k < plan.directoryEntries + plan.replacedEntries; ++k) progress.Finished();

    const unsigned workers = ctx.unzipWorkers ? ctx.unzipWorkers : UnzipWorkerCount(std::thread::hardware_concurrency());
    if (!UnpackFiles(ctx, packagePath, std::move(plan.files), workers, [&] { progress.Finished(); })) {
        StoppedByLauncher(ctx);
        return false;
    }

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
        // Closing the launcher is no failure to show or report; the next start unpacks again.
        if (ctx.state.stop.Requested()) return false;
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
